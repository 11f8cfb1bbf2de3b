// The test environment: isolated cases, installations, DB2 sessions, the trace, files and the project's programs.
#pragma once

#include <gtest/gtest.h>

#include "testbed/db2_session.h"
#include "testbed/files.h"
#include "testbed/isolation.h"
#include "testbed/program_run.h"
#include "testbed/registry_tree.h"
#include "testbed/trace_reader.h"
