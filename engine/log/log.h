// The HTML log and its reporters together, for code that uses both.
#pragma once
#include "engine/log/log_sink.h"
#include "engine/log/reporters.h"
