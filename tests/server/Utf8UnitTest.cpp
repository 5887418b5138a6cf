#include "server/Utf8Unit.h"
#include <gtest/gtest.h>
