#include <gtest/gtest.h>

#include <cstdlib>

// Every test binary refuses to let system code run on the real root: a test
// that forgets its sandbox fails loudly instead of touching the machine.
int main(int argc, char** argv) {
    setenv("VARNO_REQUIRE_SANDBOX", "1", 1);
    unsetenv("VARNO_SYSTEM_ROOT");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
