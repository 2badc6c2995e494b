// A hook library that lacks RunHook: the driver must run without it and never
// call its KillHook.
extern "C" {
__attribute__((visibility("default"))) int tl_test_hook_kills = 0;

__attribute__((visibility("default"))) void KillHook(void)
{
    ++tl_test_hook_kills;
}
}
