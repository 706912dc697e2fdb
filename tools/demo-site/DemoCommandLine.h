#pragma once
// The options of quillax-demo-site, read apart from starting the site so that a bad value is
// turned away the same way wherever it comes from.

#include "DemoSite.h"

#include <QString>

class QCommandLineParser;

namespace quillax::demo {

struct DemoCommandLine {
    DemoOptions options;
    int port = 0;        ///< 0: a free port
    int exitWithPid = 0; ///< 0: none
};

/// Declares the site's options on `parser`.
void AddDemoOptions(QCommandLineParser& parser);

/// Reads the options from a parser that has parsed the arguments; a message naming the option
/// and what it expects when a value is bad (the program then exits with 2), empty when all are
/// good.
QString ReadDemoOptions(const QCommandLineParser& parser, DemoCommandLine* line);

} // namespace quillax::demo
