#include "diag/report.h"

LPCWSTR HresultName(HRESULT) { return WIDE("Unknown"); }
