// What the export dialog TexpressForm asks: the Access file to write and
// the period of the account headers.
#pragma once

#include <chrono>
#include <string>

namespace qz::admin {

struct ExportChoices {
  std::string file = "d:\\qz.mdb";  // LMDFileSaveEdit1
  bool all = false;                 // CheckBox1 "所有": no period
  // DateTimePicker1, DateTimePicker2: first and last day (both included).
  std::chrono::year_month_day from{std::chrono::year{2002}, std::chrono::month{12},
                                   std::chrono::day{21}};
  std::chrono::year_month_day to{std::chrono::year{2002}, std::chrono::month{12},
                                 std::chrono::day{21}};
};

}  // namespace qz::admin
