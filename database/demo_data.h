// The demo hotel: believable data for every table of the application
// database, generated deterministically (fixed seed, dates relative to
// today), so that a fresh installation can be tried out and benchmarked.
//
// Contents: departments ("01" 总经理室 and others, so the staff query's
// default pattern "01" finds people), pay types, staff, rooms, clients,
// materials ("A001" ...), material accounts (购进/销售/领用) with items and
// their 采购付款/销售收款 payments, bills with items and payments (现金,
// 信用卡, 挂账, 订金), group orders with member bills, two months of payroll
// and pay items, report list entries, and the users:
//   admin / admin, mark 系统管理, popedom 1111111111 (administrator)
//   cashier / 123,  mark 系统管理, popedom 0100000000 (no administrator right)
//
// Thread-safety: uses only the connection it is given.
#pragma once

#include "platform/db/connection.h"

namespace qz::database {

struct DemoOptions {
  int bills = 0;  // number of bills; 0 means the usual 240
};

// Fills an empty application database (schema installed) in one
// transaction. Generated keys continue after the demo rows. Throws
// db::DbError on failure; the transaction is rolled back.
void addDemoData(db::Connection& conn, const DemoOptions& options);

}  // namespace qz::database
