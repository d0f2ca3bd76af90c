#include "diag/report.h"

HRESULT ReportError(const char*, int32_t, HRESULT hr, LPCWSTR, BOOL) { return hr; }
