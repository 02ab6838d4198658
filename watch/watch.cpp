#include "watch/watch.h"
