// top_dm2: bills, group orders, daily and management reports.
#include "services/catalog_builders.h"

namespace qz::services {

const ModuleCatalog& top_dm2Catalog() {
  using namespace decl;
  using T = FieldType;
  static const ModuleCatalog catalog = [] {
    ModuleCatalog m;
    m.moduleName = "top_dm2";
    const ParamSpec num = int32("num");
    ParamSpec goNumUnsized = int32("go_num");
    goNumUnsized.size = -1;
    goNumUnsized.precision = 0;
    goNumUnsized.isSigned = false;
    m.providers = {
        {"SqlProvider", query("SqlExp"), kClientSql},
        {"billP",
         withDetails(
             query("bills", {"select * from bills where 1=2"}),
             {{"billitems", {"SELECT * ", "FROM billitems ", "where bnum=:num order by inum"}, num},
              {"gathering",
               {"select * from gathering where bnum=:num",
                "  and not(type='销售收款'or type='采购付款')"},
               num}}),
         kClientSql},
        {"DayRptP",
         storedProc(
             "DayRpt", "DayRpt;1",
             {returnValue(), inOut("@fdate", T::DateTime), inOut("@tdate", T::DateTime),
              inOut("@billcont", T::Int32, 10), inOut("@subscription", T::Decimal, 19),
              inOut("@settlement", T::Decimal, 19), inOut("@subscription1", T::Decimal, 19)}),
         kClientSql},
        {"manageRptP",
         storedProc("manageRpt", "manageRpt;1",
                    {returnValue(), in("@fdate", T::DateTime), in("@tdate", T::DateTime),
                     in("@t1", T::DateTime), in("@t2", T::DateTime), in("@t3", T::DateTime),
                     in("@t4", T::DateTime)}),
         kClientSql},
        {"GOrdersP",
         withDetails(query("GOrders", {"select * from gorders where 1=0"}),
                     {{"GItems", {"SELECT *", "FROM bills", "where gnum=:go_num"}, goNumUnsized},
                      {"ggathering",
                       {"SELECT gathering.*", "FROM gathering INNER JOIN",
                        "      bills ON gathering.bnum = bills.num INNER JOIN",
                        "      GOrders ON bills.gNum = GOrders.go_num", "WHERE (go_num = :go_num)",
                        "  and not(gathering.type='销售收款'or gathering.type='采购付款')"},
                       int32("go_num")}}),
         kClientSql},
        {"AdoDataP", query("ADOsql"), kClientSql},
        {"OpenDataP", query("opendata"), kClientSql},
        {"objlistP", query("objlist"), kClientSql},
        {"PV1", query("ADOQuery1"), kClientSql},
        {"UPDPV", query("ADOQuery2"), kClientSql},
    };
    m.unpublished = {
        storedProc("BillInsert", "Bills_insert;1",
                   {returnValue(), in("@consumption", T::String, 10), in("@roomid", T::String, 10),
                    in("@PAmount", T::Int16, 0, 5), in("@cltname", T::String, 50),
                    in("@ndate", T::DateTime), in("@fdate", T::DateTime), in("@tdate", T::DateTime),
                    in("@operator", T::String, 10), in("@waiter", T::String, 10),
                    in("@receiver", T::String, 10), in("@sanctifier", T::String, 10),
                    in("@checker", T::String, 10), in("@rebate", T::Float, 0, 15),
                    in("@settle", T::Boolean), in("@comefrom", T::String, 50),
                    in("@station", T::String, 20), in("@cltid", T::Int32, 4, 10)}),
        storedProc("Ginsert", "GOrders_insert;1",
                   {returnValue(), in("@consumption", T::String, 10), in("@cltname", T::String, 50),
                    in("@ndate", T::DateTime), in("@fdate", T::DateTime), in("@tdate", T::DateTime),
                    in("@operator", T::String, 10), in("@checker", T::String, 10),
                    in("@rebate", T::Float, 0, 15), in("@station", T::String, 20),
                    in("@cltid", T::Int32, 4, 10)}),
        query("ServerQuery"),
    };
    return m;
  }();
  return catalog;
}

}  // namespace qz::services
