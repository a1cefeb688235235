#include "driver/run_settings.h"

run_settings settings;
