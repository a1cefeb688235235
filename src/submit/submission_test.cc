#include "submit/submission.h"

#include <gtest/gtest.h>
