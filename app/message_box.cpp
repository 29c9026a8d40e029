#include "message_box.h"

#include <cstdio>

namespace tolvane {

namespace {

MessageSink g_sink = nullptr;

int Show(const std::string& text, UINT type) {
    if (g_sink) return g_sink(text, type);
    return ::MessageBoxA(nullptr, text.c_str(), "Tolvane", type);
}

}  // namespace

std::string LoadMessage(UINT id) {
    char text[1024];
    int length = ::LoadStringA(::GetModuleHandleA(nullptr), id, text, sizeof text);
    return std::string(text, length > 0 ? length : 0);
}

std::string FormatMessageText(UINT id, unsigned long code) {
    std::string text = LoadMessage(id);
    std::string::size_type at = text.find("%x");
    if (at == std::string::npos) return text;
    char hex[16];
    std::snprintf(hex, sizeof hex, "%lx", code);
    return text.replace(at, 2, hex);
}

int ShowMessage(UINT id, UINT type) { return Show(LoadMessage(id), type); }

int ShowText(const std::string& text, UINT type) { return Show(text, type); }

int ShowMessage(UINT id, unsigned long code, UINT type) { return Show(FormatMessageText(id, code), type); }

MessageSink SetMessageSink(MessageSink sink) {
    MessageSink previous = g_sink;
    g_sink = sink;
    return previous;
}

}  // namespace tolvane
