/* VersionProbe.c: a DLL needs some code; the tests only use its resources and its file. */
int VersionProbe(void) {
    return 0;
}
