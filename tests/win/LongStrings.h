// LongStrings.h: ids of the test-only entries of LongStrings.rc; each text is the first N
// characters of a repeated "0-9a-z".
#pragma once
#define IDS_TEST_LONG_253 60000
#define IDS_TEST_LONG_254 60001
#define IDS_TEST_LONG_255 60002
#define IDS_TEST_LONG_300 60003
#define IDS_TEST_LONG_600 60004
