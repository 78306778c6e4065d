// The PDF runs reach fontconfig and pango, which keep caches until exit; the suppressions
// name only their libraries. Linked into the test programs that make PDFs.
extern "C" const char* __lsan_default_options()
{
    return "suppressions=" KESTO_SOURCE_DIR "/tests/lsan-fonts.supp";
}
