#include "Errors.h"

#include <iostream>

int g_bShowErrors = 1;

namespace {

ErrorSink& Sink()
{
    static ErrorSink sink = [](const std::string& message) { std::cerr << message << '\n'; };
    return sink;
}

std::string& LastError()
{
    static std::string text;
    return text;
}

} // namespace

ErrorSink SetErrorSink(ErrorSink sink)
{
    ErrorSink previous = std::move(Sink());
    Sink() = std::move(sink);
    return previous;
}

void ReportError(const std::string& message)
{
    LastError() = message;
    if (Sink())
        Sink()(message);
}

void SetLastErrorText(const std::string& message)
{
    LastError() = message;
}

const char* GetLastErrorText()
{
    return LastError().c_str();
}
