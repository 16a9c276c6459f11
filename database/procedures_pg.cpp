// The application's procedures as PL/pgSQL functions, and the catalogue
// objects (sysdevices, sysdatabases, sp_addumpdevice) that system statements
// address on PostgreSQL. Names are unquoted, so they fold to lower case and
// the T-SQL callers' mixed case resolves.
#include "database/procedures.h"

namespace qz::database {
namespace {

// Inserting procedures: one row, its generated number in return_value.
// Identity columns hand out numbers without locks, so concurrent callers
// never share one.
constexpr const char* kBillsInsert = R"SQL(
CREATE FUNCTION Bills_insert(
  consumption varchar DEFAULT NULL, roomid varchar DEFAULT NULL,
  PAmount smallint DEFAULT NULL, cltname varchar DEFAULT NULL,
  ndate timestamp DEFAULT NULL, fdate timestamp DEFAULT NULL, tdate timestamp DEFAULT NULL,
  operator varchar DEFAULT NULL, waiter varchar DEFAULT NULL, receiver varchar DEFAULT NULL,
  sanctifier varchar DEFAULT NULL, checker varchar DEFAULT NULL,
  rebate double precision DEFAULT NULL, settle boolean DEFAULT NULL,
  comefrom varchar DEFAULT NULL, station varchar DEFAULT NULL, cltid integer DEFAULT NULL,
  OUT return_value integer)
LANGUAGE plpgsql AS $$
BEGIN
  INSERT INTO bills (consumption, roomid, PAmount, cltname, ndate, fdate, tdate, operator,
                     waiter, receiver, sanctifier, checker, rebate, settle, comefrom,
                     station, cltid)
  VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17)
  RETURNING num INTO return_value;
END
$$)SQL";

constexpr const char* kGOrdersInsert = R"SQL(
CREATE FUNCTION GOrders_insert(
  consumption varchar DEFAULT NULL, cltname varchar DEFAULT NULL,
  ndate timestamp DEFAULT NULL, fdate timestamp DEFAULT NULL, tdate timestamp DEFAULT NULL,
  operator varchar DEFAULT NULL, checker varchar DEFAULT NULL,
  rebate double precision DEFAULT NULL, station varchar DEFAULT NULL,
  cltid integer DEFAULT NULL,
  OUT return_value integer)
LANGUAGE plpgsql AS $$
BEGIN
  INSERT INTO gorders (consumption, cltname, ndate, fdate, tdate, operator, checker, rebate,
                       station, cltid)
  VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10)
  RETURNING go_num INTO return_value;
END
$$)SQL";

constexpr const char* kMaccInsert = R"SQL(
CREATE FUNCTION material_MAccIinsert(
  consumption varchar DEFAULT NULL, deptid varchar DEFAULT NULL,
  ndate timestamp DEFAULT NULL, fdate timestamp DEFAULT NULL, tdate timestamp DEFAULT NULL,
  operator varchar DEFAULT NULL, waiter varchar DEFAULT NULL, receiver varchar DEFAULT NULL,
  sanctifier varchar DEFAULT NULL, checker varchar DEFAULT NULL, cltid integer DEFAULT NULL,
  cltname varchar DEFAULT NULL, item varchar DEFAULT NULL, dept2id varchar DEFAULT NULL,
  OUT return_value integer)
LANGUAGE plpgsql AS $$
BEGIN
  INSERT INTO Maccount (consumption, DeptID, ndate, fdate, tdate, operator, waiter, receiver,
                        sanctifier, checker, cltid, cltname, item, dept2id)
  VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14)
  RETURNING num INTO return_value;
END
$$)SQL";

// Day report over the days fdate .. tdate (whole days; null = today):
// billcont bills opened, subscription deposits (订金) received, settlement
// payments of settled bills received, subscription1 deposits still held for
// open bills at the end of the range.
constexpr const char* kDayRpt = R"SQL(
CREATE FUNCTION DayRpt(
  INOUT fdate timestamp DEFAULT NULL, INOUT tdate timestamp DEFAULT NULL,
  INOUT billcont integer DEFAULT NULL, INOUT subscription numeric DEFAULT NULL,
  INOUT settlement numeric DEFAULT NULL, INOUT subscription1 numeric DEFAULT NULL,
  OUT return_value integer)
LANGUAGE plpgsql AS $$
#variable_conflict use_variable
DECLARE
  d_from timestamp;
  d_to timestamp;
BEGIN
  fdate := coalesce(fdate, current_date::timestamp);
  tdate := coalesce(tdate, fdate);
  d_from := date_trunc('day', fdate);
  d_to := date_trunc('day', tdate) + interval '1 day';
  SELECT count(*) INTO billcont FROM bills b WHERE b.ndate >= d_from AND b.ndate < d_to;
  SELECT coalesce(sum(g.money), 0) INTO subscription FROM gathering g
   WHERE g.type = '订金' AND g.ndate >= d_from AND g.ndate < d_to;
  SELECT coalesce(sum(g.money), 0) INTO settlement FROM gathering g JOIN bills b ON b.num = g.bnum
   WHERE b.settle AND g.type NOT IN ('订金', '销售收款', '采购付款')
     AND g.ndate >= d_from AND g.ndate < d_to;
  SELECT coalesce(sum(g.money), 0) INTO subscription1 FROM gathering g JOIN bills b ON b.num = g.bnum
   WHERE g.type = '订金' AND NOT coalesce(b.settle, false) AND g.ndate < d_to;
  return_value := 0;
END
$$)SQL";

// Management report: per kind of consumption, the bills and the billed
// amount of the period fdate .. tdate, and the billed amounts of the two
// comparison periods t1 .. t2 and t3 .. t4 (whole days; a null bound leaves
// that side open).
constexpr const char* kManageRpt = R"SQL(
CREATE FUNCTION manageRpt(
  fdate timestamp DEFAULT NULL, tdate timestamp DEFAULT NULL,
  t1 timestamp DEFAULT NULL, t2 timestamp DEFAULT NULL,
  t3 timestamp DEFAULT NULL, t4 timestamp DEFAULT NULL)
RETURNS TABLE (consumption varchar, billcount integer, amount numeric, amount1 numeric,
               amount2 numeric)
LANGUAGE plpgsql AS $$
#variable_conflict use_column
DECLARE
  a0 timestamp := coalesce(date_trunc('day', $1), '-infinity');
  a1 timestamp := coalesce(date_trunc('day', $2) + interval '1 day', 'infinity');
  b0 timestamp := coalesce(date_trunc('day', $3), '-infinity');
  b1 timestamp := coalesce(date_trunc('day', $4) + interval '1 day', 'infinity');
  c0 timestamp := coalesce(date_trunc('day', $5), '-infinity');
  c1 timestamp := coalesce(date_trunc('day', $6) + interval '1 day', 'infinity');
BEGIN
  RETURN QUERY
  SELECT coalesce(b.consumption, '')::varchar,
         (count(DISTINCT b.num) FILTER (WHERE b.ndate >= a0 AND b.ndate < a1))::integer,
         coalesce(sum(i.money) FILTER (WHERE b.ndate >= a0 AND b.ndate < a1), 0),
         coalesce(sum(i.money) FILTER (WHERE b.ndate >= b0 AND b.ndate < b1), 0),
         coalesce(sum(i.money) FILTER (WHERE b.ndate >= c0 AND b.ndate < c1), 0)
    FROM bills b LEFT JOIN billitems i ON i.bnum = b.num
   WHERE (b.ndate >= a0 AND b.ndate < a1) OR (b.ndate >= b0 AND b.ndate < b1)
      OR (b.ndate >= c0 AND b.ndate < c1)
   GROUP BY 1 ORDER BY 1;
END
$$)SQL";

// Payroll summary of a month for the departments like deptID: per staff
// member the earnings (应发), the deductions (扣款) and the net pay. The rows
// have a type of their own, so the input deptID and the result column deptid
// can share their name (calls may name their arguments).
constexpr const char* kGatherGzRow = R"SQL(
CREATE TYPE gz_gather_row AS (staid varchar, staname varchar, deptid varchar, earning numeric,
                              deduction numeric, netpay numeric))SQL";

constexpr const char* kGatherGz = R"SQL(
CREATE FUNCTION gz_gatherGz(
  vYear integer DEFAULT NULL, vMonth integer DEFAULT NULL, deptID varchar DEFAULT NULL)
RETURNS SETOF gz_gather_row
LANGUAGE plpgsql AS $$
BEGIN
  RETURN QUERY
  SELECT g.staid, max(g.staname)::varchar, max(g.deptID)::varchar,
         coalesce(sum(g.money) FILTER (WHERE g.kind = '应发'), 0),
         coalesce(sum(g.money) FILTER (WHERE g.kind = '扣款'), 0),
         coalesce(sum(g.money) FILTER (WHERE g.kind = '应发'), 0)
           - coalesce(sum(g.money) FILTER (WHERE g.kind = '扣款'), 0)
    FROM gz g
   WHERE extract(year FROM g.ndate) = $1 AND extract(month FROM g.ndate) = $2
     AND coalesce(g.deptID, '') LIKE $3
   GROUP BY g.staid ORDER BY g.staid;
END
$$)SQL";

// Backup devices as the system statements know them (master.dbo.sysdevices
// is rewritten to this table): logical name, file, and SQL Server's other
// five columns with the values of a disk dump device.
constexpr const char* kSysDevices = R"SQL(
CREATE TABLE sysdevices (
  name varchar(30) NOT NULL PRIMARY KEY,
  size integer NOT NULL DEFAULT 0,
  low integer NOT NULL DEFAULT 0,
  high integer NOT NULL DEFAULT 0,
  status smallint NOT NULL DEFAULT 16,
  cntrltype smallint NOT NULL DEFAULT 2,
  phyname varchar(260) NOT NULL
))SQL";

constexpr const char* kAddDumpDevice = R"SQL(
CREATE FUNCTION sp_addumpdevice(
  devtype varchar DEFAULT NULL, logicalname varchar DEFAULT NULL,
  physicalname varchar DEFAULT NULL, OUT return_value integer)
LANGUAGE plpgsql AS $$
BEGIN
  IF lower(coalesce($1, '')) <> 'disk' THEN
    RAISE EXCEPTION 'device type % is not supported', coalesce($1, 'NULL');
  END IF;
  IF $2 IS NULL OR $3 IS NULL THEN
    RAISE EXCEPTION 'a dump device needs a logical and a physical name';
  END IF;
  IF EXISTS (SELECT 1 FROM sysdevices d WHERE lower(d.name) = lower($2)) THEN
    RAISE EXCEPTION 'device name ''%'' already exists', $2;
  END IF;
  INSERT INTO sysdevices (name, phyname) VALUES ($2, $3);
  return_value := 0;
END
$$)SQL";

constexpr const char* kSysDatabases = R"SQL(
CREATE VIEW sysdatabases AS
  SELECT datname::varchar(128) AS name, oid::integer AS dbid, ''::varchar(260) AS filename
    FROM pg_database WHERE datallowconn)SQL";

std::string trimLeadingNewline(const char* s) {
  std::string out = s;
  while (!out.empty() && out.front() == '\n') out.erase(0, 1);
  return out;
}

}  // namespace

std::vector<std::string> pgProcedureStatements() {
  std::vector<std::string> out;
  for (const char* s : {kBillsInsert, kGOrdersInsert, kMaccInsert, kDayRpt, kManageRpt,
                        kGatherGzRow, kGatherGz, kSysDevices, kAddDumpDevice, kSysDatabases})
    out.push_back(trimLeadingNewline(s));
  return out;
}

}  // namespace qz::database
