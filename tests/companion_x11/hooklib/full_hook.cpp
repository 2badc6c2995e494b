// A keyboard hook library for the tests: it records what the driver calls.
extern "C" {
__attribute__((visibility("default"))) unsigned long tl_test_hook_window = 0;
__attribute__((visibility("default"))) int tl_test_hook_runs = 0;
__attribute__((visibility("default"))) int tl_test_hook_kills = 0;

__attribute__((visibility("default"))) void RunHook(unsigned long window)
{
    tl_test_hook_window = window;
    ++tl_test_hook_runs;
}

__attribute__((visibility("default"))) void KillHook(void)
{
    ++tl_test_hook_kills;
}
}
