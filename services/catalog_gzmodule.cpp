// GzModule: payroll.
#include "services/catalog_builders.h"

namespace qz::services {

const ModuleCatalog& gzModuleCatalog() {
  using namespace decl;
  using T = FieldType;
  static const ModuleCatalog catalog = [] {
    ModuleCatalog m;
    m.moduleName = "GzModule";
    constexpr bool kNullable = true;
    m.providers = {
        {"monthGZP",
         query("monthGZ",
               {"select * from gz",
                "  where datepart(yyyy,ndate)=:year and datepart(mm,ndate)=:month and",
                "    staid like :staID and deptID like :DeptId", "  order by staid,xz", "", " "},
               {int32("year", kNullable), int32("month", kNullable), text("staID", 10),
                text("DeptId", 10, {}, kNullable)}),
         kClientSql},
        {"gzstruP",
         query("gzstru",
               {"select * from gzstru",
                "  where datepart(yyyy,ndate)=:fyear and datepart(mm,ndate)=:fmonth",
                "  order by fname", ""},
               {int32("fyear", kNullable), int32("fmonth", kNullable)}),
         kNoClientSql},
        {"StaTypeP", table("StaType", "StaType"), kNoClientSql},
        {"GatherGzP",
         storedProc(
             "GatherGz", "gz_gatherGz;1",
             {returnValue(int32_t{0}),
              {"@vYear", T::Int32, 0, 10, db::ParamDirection::Input, kNullable, false,
               int32_t{2001}},
              {"@vMonth", T::Int32, 0, 10, db::ParamDirection::Input, kNullable, false, int32_t{7}},
              {"@deptID", T::String, 10, 0, db::ParamDirection::Input, kNullable, false, "%"}}),
         kNoClientSql},
        {"SqlProvider", query("SqlExp"), kClientSql},
        {"rptlistP", query("rptlist", {"select * from rptlist"}), kNoClientSql},
    };
    return m;
  }();
  return catalog;
}

}  // namespace qz::services
