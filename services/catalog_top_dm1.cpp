// top_dm1: material accounts, departments and staff.
#include "services/catalog_builders.h"

namespace qz::services {

const ModuleCatalog& top_dm1Catalog() {
  using namespace decl;
  static const ModuleCatalog catalog = [] {
    ModuleCatalog m;
    m.moduleName = "top_dm1";
    m.connectionCommandTimeout = 300;
    m.connectionTimeout = 150;
    const ParamSpec num = int32("num");
    m.providers = {
        {"deptP", table("dept", "dept"), kClientSql},
        {"stafferP",
         query("staffer", {"select * from staffer where deptid like :id", "  order by deptid,id"},
               {text("id", 6, "01")}),
         kClientSql},
        {"SQLProvider", withTimeout(query("SQLPRO"), 3000), kClientSql},
        {"MAccountP",
         withDetails(query("MAccount", {"select * from Maccount where num=:num"}, {num}),
                     {{"MAccItems", {"select * from MAccItems where bnum=:num order by inum"}, num},
                      {"Mgathering",
                       {"select * from gathering where bnum=:num ",
                        "  and (type='销售收款'or type='采购付款')"},
                       num}}),
         kClientSql},
        {"mmmp", query("mmm"), kClientSql},
        {"PV1", query("ADOQuery1"), kClientSql},
        {"PV2", query("ADOQuery2"), kClientSql},
        {"PV3", query("ADOQuery3"), kClientSql},
    };
    using T = FieldType;
    m.unpublished = {
        storedProc("MAccInsert", "material_MAccIinsert;1",
                   {returnValue(), in("@consumption", T::String, 10), in("@deptid", T::String, 10),
                    in("@ndate", T::DateTime), in("@fdate", T::DateTime), in("@tdate", T::DateTime),
                    in("@operator", T::String, 10), in("@waiter", T::String, 10),
                    in("@receiver", T::String, 10), in("@sanctifier", T::String, 10),
                    in("@checker", T::String, 10), in("@cltid", T::Int32, 4, 10),
                    in("@cltname", T::String, 50), in("@item", T::String, 50),
                    in("@dept2id", T::String, 10)}),
        query("ServerQuery"),
    };
    return m;
  }();
  return catalog;
}

}  // namespace qz::services
