// SPDX-License-Identifier: MIT
#include "plainwarnings.h"

#include <QString>

namespace {

PlainWarnings *innermost = nullptr;

} // namespace

PlainWarnings::PlainWarnings(const char *category) : category(category), enclosing(innermost)
{
    innermost = this;
    // Never null: with no handler of anyone's installed, Qt's own default comes back.
    outer = qInstallMessageHandler(&PlainWarnings::handle);
}

PlainWarnings::~PlainWarnings()
{
    qInstallMessageHandler(outer);
    innermost = enclosing;
}

void PlainWarnings::handle(QtMsgType type, const QMessageLogContext &context,
                           const QString &message)
{
    innermost->pass(type, context, message);
}

void PlainWarnings::pass(QtMsgType type, const QMessageLogContext &context,
                         const QString &message) const
{
    const QMessageLogContext plain(context.file, context.line, context.function, "default");
    const QMessageLogContext &as = qstrcmp(context.category, category) == 0 ? plain : context;
    if (outer == &PlainWarnings::handle && enclosing)
        enclosing->pass(type, as, message);
    else
        outer(type, as, message);
}
