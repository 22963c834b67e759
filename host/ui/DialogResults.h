// The answers of dialogs and message boxes, as their callers test them.
#pragma once

enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };
