// The one test environment every group uses: isolated cases, installations, DB2 sessions, the trace, files and
// the project's programs.
#pragma once

#include "testbed/caller_buffer.h"
#include "testbed/db2_session.h"
#include "testbed/files.h"
#include "testbed/installation.h"
#include "testbed/isolation.h"
#include "testbed/program_run.h"
#include "testbed/trace_reader.h"
