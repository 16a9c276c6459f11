// The administrator sign-in check and the password change against the
// users table (columns id, psw, mark, popedom), on the main SQL connection.
//
// The typed texts are bound as parameters, never spliced into the
// statements, so a quote in a name or password cannot change them.
//
// Thread-safety: runs on the window thread, which owns the connection.
#pragma once

#include <string>

#include "platform/db/connection.h"

namespace qz::admin {

// Texts the sign-in and the password change show.
inline constexpr const char* kSignInFailedHint = "  编号或口令有误!  ";
inline constexpr const char* kPasswordsDifferText = "新口令错误！请重新输入。";
inline constexpr const char* kPasswordNotChangedText = "不能修改口令!";

// Runs "select * from users where id=.. and psw=.. and mark=.." on query
// (its old text is cleared first). Returns true when at least one row came
// back and the first row's popedom begins with "1"; a NULL or empty popedom
// fails. Opens conn (the query's connection) when it is closed. Throws db::DbError on a
// database failure (unreachable server, missing column).
bool CheckAdminSignIn(db::Connection& conn, db::Query& query, const std::string& name,
                      const std::string& password, const std::string& mark);

// Runs "update users set psw=.. where id=.. and mark=..". Throws db::DbError
// when the database rejects it.
void ChangeAdminPassword(db::Connection& conn, db::Query& query, const std::string& newPassword,
                         const std::string& name, const std::string& mark);

}  // namespace qz::admin
