#include "app/run_context.h"

RunContext* gDialogContext = nullptr;
