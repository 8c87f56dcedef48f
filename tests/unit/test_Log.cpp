#include <gtest/gtest.h>

#include "Log.h"
#include "TestSupport.h"

TEST(Log, Placeholder)
{
    EXPECT_TRUE(true);
}
