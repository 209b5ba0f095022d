// Linked into the binary only in sanitizer builds: leaks inside system
// libraries that the project cannot free are not reported (fontconfig's
// caches, filled when Poppler substitutes a font a PDF does not embed).
extern "C" const char* __lsan_default_suppressions() {  // NOLINT(bugprone-reserved-identifier)
  return "leak:libfontconfig.so\n";
}
