#pragma once
// The agent's debug mode: "-DEBUG" as the first argument turns it on for the
// life of the process; debug lines then go to the system log, each led by
// the source file, line and method that wrote it.

#include <QString>
#include <QVariantList>

#include "app/format.h"

extern bool KVXDEBUG;

// True when the first argument after the program name is exactly "-DEBUG".
bool debugFlagForArguments(int argc, const char* const* argv);

// Writes the format expanded with the arguments to the system log when
// KVXDEBUG is set.
void _DLog(const QString& format, const QVariantList& arguments);

// "-[Class method:]" from the compiler's name of a member function.
QString methodNameForFunction(const char* prettyFunction);

// A debug line: the message is a format, expanded with the arguments after
// the "file:line -[Class method]: " lead.
#define DLog(message, ...)                                                                    \
    do {                                                                                      \
        if (KVXDEBUG)                                                                         \
            _DLog(app::format(                                                                \
                      QStringLiteral("%s:%d %s: %@"),                                         \
                      {QStringLiteral(__FILE_NAME__), __LINE__,                               \
                       methodNameForFunction(__PRETTY_FUNCTION__), QStringLiteral(message)}), \
                  QVariantList{__VA_ARGS__});                                                 \
    } while (false)
