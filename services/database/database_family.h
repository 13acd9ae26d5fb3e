// The database family: the sqlite and mysql statements.
#pragma once

struct Family;
const Family* DatabaseFamily();
