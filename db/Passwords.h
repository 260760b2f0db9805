#pragma once

// What the client library may do with a password. Private to the db library.

namespace orv::db {

// Puts in place, in the client library the driver uses, the two authentication methods that send
// the password as it is typed (mysql_clear_password, and dialog, which PAM uses): they send it
// only over an encrypted connection, and otherwise fail with nothing sent, as the MySQL client
// does by default. Throws Error when they cannot be put in place.
void refuseClearTextPasswordsOnPlainConnections();

} // namespace orv::db
