// The DB2 session helpers, reached from the test bed as kelmar::test_backend too.
#pragma once

#include "testbed/db2_session.h"

namespace kelmar::test_backend {
using namespace kelmar::testbed;
}  // namespace kelmar::test_backend
