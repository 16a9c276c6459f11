// The maintenance procedures as PL/pgSQL functions; see
// maintenance_procedures.h. Backups are written by the database server
// itself: qz_run_program runs a shell script through COPY ... FROM PROGRAM
// (superuser or the pg_execute_server_program role), collecting its output,
// and fails with that output when the script does not end with "qz-ok".
//
// Media on PostgreSQL: a tar archive of pg_dump custom-format files, one per
// backup set, each followed by its SHA-256 sum (name.dump.sha256), appended (or the archive
// rewritten) through a copy that is renamed over the media at the end, so a failing backup leaves
// the media as it was. Differential and password-protected sets are not available: the procedure
// answers with a message row and writes nothing.
#include "database/maintenance_procedures.h"

namespace qz::database {
namespace {

// 'text' for the shell.
constexpr const char* kShellQuote = R"SQL(
CREATE FUNCTION qz_shell_quote(t text) RETURNS text LANGUAGE sql IMMUTABLE AS $qz$
  SELECT '''' || replace(coalesce(t, ''), '''', '''\''''') || ''''
$qz$)SQL";

// The shell lines that find the server's own client programs and the
// options that connect them back to this server as the current login.
constexpr const char* kClientSetup = R"SQL(
CREATE FUNCTION qz_client_setup() RETURNS text LANGUAGE plpgsql STABLE AS $qz$
DECLARE
  sock text := split_part(coalesce(current_setting('unix_socket_directories', true), ''), ',', 1);
BEGIN
  IF trim(sock) = '' THEN sock := coalesce(host(inet_server_addr()), '127.0.0.1'); END IF;
  RETURN 'bin=$(dirname "$(readlink /proc/$PPID/exe)")' || E'\n'
      || '[ -x "$bin/pg_dump" ] || bin=$(dirname "$(command -v pg_dump)")' || E'\n'
      || 'h=' || qz_shell_quote(trim(sock)) || '; p=' || qz_shell_quote(current_setting('port'))
      || '; u=' || qz_shell_quote(current_user) || E'\n';
END
$qz$)SQL";

// Runs a script on the server; raises the first two lines of its output
// (the reason the program gave) when it fails. The program always ends
// with its exit status as the last line: a failing program would make COPY
// fail with the whole script as its message and lose what it printed.
constexpr const char* kRunProgram = R"SQL(
CREATE FUNCTION qz_run_program(script text) RETURNS void LANGUAGE plpgsql AS $qz$
DECLARE
  out text;
BEGIN
  CREATE TEMP TABLE IF NOT EXISTS qz_program_output(n serial, line text);
  TRUNCATE qz_program_output;
  EXECUTE format('COPY qz_program_output(line) FROM PROGRAM %L '
                 'WITH (FORMAT csv, DELIMITER E''\x02'', QUOTE E''\x01'')',
                 '( ' || script || E'\n) 2>&1; echo qz-exit-$?');
  SELECT string_agg(line, E'\n' ORDER BY n) INTO out FROM qz_program_output;
  IF out IS NULL OR out NOT LIKE '%qz-exit-0' THEN
    out := trim(regexp_replace(coalesce(out, ''), E'\n?qz-exit-[0-9]+$', ''));
    RAISE EXCEPTION '%', coalesce(nullif(array_to_string((string_to_array(out, E'\n'))[1:2], E'\n'), ''),
                                  'the server program failed');
  END IF;
END
$qz$)SQL";

constexpr const char* kQzBackup = R"SQL(
CREATE FUNCTION QZ_backup(devtype varchar DEFAULT NULL, devname varchar DEFAULT NULL,
                          path varchar DEFAULT NULL, dbname varchar DEFAULT NULL,
                          kind integer DEFAULT 0, media integer DEFAULT 0,
                          password varchar DEFAULT NULL)
RETURNS TABLE(message text) LANGUAGE plpgsql AS $qz$
DECLARE
  f text := qz_shell_quote(path);
BEGIN
  IF lower(coalesce(devtype, '')) <> 'disk' THEN
    RAISE EXCEPTION 'QZ_backup: only ''disk'' backups are supported, not ''%''.', coalesce(devtype, '');
  END IF;
  IF coalesce(kind, 0) NOT IN (0, 1) OR coalesce(media, 0) NOT IN (0, 1) THEN
    RAISE EXCEPTION 'QZ_backup: the backup kind and the media choice must be 0 or 1.';
  END IF;
  IF coalesce(path, '') = '' THEN RAISE EXCEPTION 'The backup file name is missing.'; END IF;
  IF coalesce(dbname, '') <> '' AND dbname <> current_database() THEN
    RAISE EXCEPTION 'QZ_backup can back up only the database it runs in (%), not %.',
      current_database(), dbname;
  END IF;
  IF coalesce(kind, 0) = 1 THEN
    message := 'PostgreSQL 不支持差异备份，未写入任何内容。请选择“数据库-完全”。';
    RETURN NEXT;
    RETURN;
  END IF;
  IF coalesce(password, '') <> '' THEN
    message := 'PostgreSQL 上的备份不能用口令保护，未写入任何内容。请不填口令再备份。';
    RETURN NEXT;
    RETURN;
  END IF;
  PERFORM qz_run_program(qz_client_setup()
    || 'set -e' || E'\n'
    || 'f=' || f || E'\n'
    || 'dir=$(dirname "$f"); set=qzset-$(date +%Y%m%d%H%M%S)-$$.dump' || E'\n'
    || '[ -d "$dir" ] || { echo "Cannot open backup device ''$f''. The folder $dir does not exist."; exit 1; }' || E'\n'
    || '[ -w "$dir" ] || { echo "Cannot open backup device ''$f''. The database server runs as the operating-system user $(id -un), who cannot write to the folder $dir."; exit 1; }' || E'\n'
    || 'trap ''rm -f "$dir/$set" "$dir/$set.sha256" "$f.writing"'' EXIT' || E'\n'
    || '"$bin/pg_dump" -Fc -h "$h" -p "$p" -U "$u" -f "$dir/$set" ' || qz_shell_quote(current_database()) || E'\n'
    || CASE WHEN coalesce(media, 0) = 1 THEN 'rm -f "$f.writing"'
            ELSE 'if [ -s "$f" ]; then tar -tf "$f" >/dev/null; cp "$f" "$f.writing"; else rm -f "$f.writing"; fi'
       END || E'\n'
    || '(cd "$dir" && sha256sum "$set" > "$set.sha256")' || E'\n'
    || 'tar -rf "$f.writing" -C "$dir" "$set" "$set.sha256"' || E'\n'
    || 'mv "$f.writing" "$f"');
  message := '数据库 ' || current_database() || ' 已完全备份到 ' || path || '。';
  RETURN NEXT;
END
$qz$)SQL";

// Moves the rows of [day, day after last) into the archive schema.
constexpr const char* kMoveRows = R"SQL(
CREATE FUNCTION qz_move_rows(archive text, kind text, fromday date, nextday date)
RETURNS integer[] LANGUAGE plpgsql AS $qz$
DECLARE
  tables text[];
  conds text[];
  counts integer[] := ARRAY[]::integer[];
  n integer;
BEGIN
  IF archive IS NULL OR archive = '' THEN archive := 'qz1'; END IF;
  IF lower(archive) IN ('public', 'pg_catalog', 'information_schema', lower(current_database())) THEN
    RAISE EXCEPTION 'the archive % must be a schema of its own', archive;
  END IF;
  IF kind = 'rooms' THEN
    CREATE TEMP TABLE qz_move_keys ON COMMIT DROP AS
      SELECT num FROM bills WHERE ndate >= fromday AND ndate < nextday;
    tables := ARRAY['bills', 'billitems', 'gathering'];
    conds := ARRAY['num IN (SELECT num FROM qz_move_keys)',
                   'bnum IN (SELECT num FROM qz_move_keys)',
                   'bnum IN (SELECT num FROM qz_move_keys) AND coalesce(type, '''') NOT IN (''销售收款'', ''采购付款'')'];
  ELSE
    CREATE TEMP TABLE qz_move_keys ON COMMIT DROP AS
      SELECT num FROM Maccount WHERE consumption = '销售' AND ndate >= fromday AND ndate < nextday;
    tables := ARRAY['maccount', 'maccitems', 'gathering'];
    conds := ARRAY['num IN (SELECT num FROM qz_move_keys)',
                   'bnum IN (SELECT num FROM qz_move_keys)',
                   'bnum IN (SELECT num FROM qz_move_keys) AND type = ''销售收款'''];
  END IF;
  EXECUTE format('CREATE SCHEMA IF NOT EXISTS %I', archive);
  FOR i IN 1 .. 3 LOOP
    EXECUTE format('CREATE TABLE IF NOT EXISTS %I.%I (LIKE public.%I INCLUDING DEFAULTS INCLUDING INDEXES)',
                   archive, tables[i], tables[i]);
    EXECUTE format('DELETE FROM %I.%I WHERE %s', archive, tables[i], conds[i]);
  END LOOP;
  FOR i IN 1 .. 3 LOOP
    EXECUTE format('INSERT INTO %I.%I SELECT * FROM public.%I WHERE %s', archive, tables[i], tables[i], conds[i]);
  END LOOP;
  FOR i IN REVERSE 3 .. 1 LOOP
    EXECUTE format('DELETE FROM public.%I WHERE %s', tables[i], conds[i]);
    GET DIAGNOSTICS n = ROW_COUNT;
    counts := n || counts;
  END LOOP;
  DROP TABLE qz_move_keys;
  RETURN counts;
END
$qz$)SQL";

constexpr const char* kHptBackup = R"SQL(
CREATE FUNCTION hpt_backup(dbname varchar DEFAULT NULL, archive varchar DEFAULT NULL,
                           fromday varchar DEFAULT NULL, today varchar DEFAULT NULL,
                           backupfile varchar DEFAULT NULL)
RETURNS TABLE(message text) LANGUAGE plpgsql AS $qz$
DECLARE
  d1 date := replace(fromday, '/', '-')::date;
  d2 date := replace(today, '/', '-')::date;
  c integer[];
  b text;
BEGIN
  IF coalesce(dbname, '') <> '' AND dbname <> current_database() THEN
    RAISE EXCEPTION 'hpt_backup runs in the database it cleans (%), not %.', current_database(), dbname;
  END IF;
  b := coalesce(nullif(backupfile, ''), 'qz1');
  IF b NOT LIKE '/%' THEN b := current_setting('data_directory') || '/' || b; END IF;
  SELECT q.message INTO STRICT b FROM QZ_backup('disk'::varchar, 'hpt_backup'::varchar, b::varchar,
                                             current_database()::varchar, 0, 0, ''::varchar) q;
  c := qz_move_rows(coalesce(nullif(archive, ''), 'qz1'), 'rooms', d1, d2 + 1);
  message := '已将 ' || to_char(d1, 'YYYY-MM-DD') || ' 至 ' || to_char(d2, 'YYYY-MM-DD')
    || ' 的客房结算数据移到 ' || coalesce(nullif(archive, ''), 'qz1') || '：账单 ' || c[1]
    || ' 张，消费明细 ' || c[2] || ' 条，收款 ' || c[3] || ' 条。移动前' || b;
  RETURN NEXT;
END
$qz$)SQL";

constexpr const char* kMaterialBackup = R"SQL(
CREATE FUNCTION material_backup(dbname varchar DEFAULT NULL, archive varchar DEFAULT NULL,
                                fromday varchar DEFAULT NULL, today varchar DEFAULT NULL)
RETURNS TABLE(message text) LANGUAGE plpgsql AS $qz$
DECLARE
  d1 date := replace(fromday, '/', '-')::date;
  d2 date := replace(today, '/', '-')::date;
  c integer[];
BEGIN
  IF coalesce(dbname, '') <> '' AND dbname <> current_database() THEN
    RAISE EXCEPTION 'material_backup runs in the database it cleans (%), not %.', current_database(), dbname;
  END IF;
  c := qz_move_rows(coalesce(nullif(archive, ''), 'qz1'), 'sales', d1, d2 + 1);
  message := '已将 ' || to_char(d1, 'YYYY-MM-DD') || ' 至 ' || to_char(d2, 'YYYY-MM-DD')
    || ' 的商品销售结算数据移到 ' || coalesce(nullif(archive, ''), 'qz1') || '：销售单 ' || c[1]
    || ' 张，明细 ' || c[2] || ' 条，收款 ' || c[3] || ' 条。';
  RETURN NEXT;
END
$qz$)SQL";

constexpr const char* kDeleteAll = R"SQL(
CREATE FUNCTION deleteall() RETURNS void LANGUAGE plpgsql AS $qz$
BEGIN
  DELETE FROM billitems; DELETE FROM gathering; DELETE FROM bills; DELETE FROM gorders;
  DELETE FROM MAccItems; DELETE FROM Maccount; DELETE FROM gz; DELETE FROM gzstru;
END
$qz$)SQL";

std::string trimmed(const char* s) {
  std::string out = s;
  while (!out.empty() && out.front() == '\n') out.erase(0, 1);
  return out;
}

}  // namespace

std::vector<std::string> pgMaintenanceStatements() {
  std::vector<std::string> out;
  for (const char* s : {kShellQuote, kClientSetup, kRunProgram, kQzBackup, kMoveRows, kHptBackup,
                        kMaterialBackup, kDeleteAll})
    out.push_back(trimmed(s));
  return out;
}

}  // namespace qz::database
