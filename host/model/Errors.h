// The host's error reporting: a failed lookup or a refused value is reported
// to an error sink. The GUI shows it in a message box; tests capture it.
#pragma once

#include <functional>
#include <string>

// When non-zero, a failed lookup by name is reported. Saved, cleared and
// restored by callers that look up optional names.
extern int g_bShowErrors;

using ErrorSink = std::function<void(const std::string& message)>;

// Installs a sink and returns the previous one. The default sink writes to stderr.
ErrorSink SetErrorSink(ErrorSink sink);
// Reports to the sink and remembers the text for GetLastErrorText.
void ReportError(const std::string& message);
// Remembers the text without reporting it (failures the caller handles).
void SetLastErrorText(const std::string& message);
const char* GetLastErrorText();

// Clears g_bShowErrors for its lifetime and restores the old value on every path.
class QuietLookup {
public:
    QuietLookup() : m_saved(g_bShowErrors) { g_bShowErrors = 0; }
    ~QuietLookup() { g_bShowErrors = m_saved; }
    QuietLookup(const QuietLookup&) = delete;
    QuietLookup& operator=(const QuietLookup&) = delete;

private:
    int m_saved;
};
