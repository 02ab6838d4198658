#include "app/run_context.h"

RunContext gRun;
