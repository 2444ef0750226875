// lybtool number: the dialable and display forms of a caller number.
#include "contacts/number_forms.h"
#include "tools/command.h"

namespace {

int run(const QStringList& args) {
    using lyb::tool::err;
    using lyb::tool::out;
    if (args.size() < 2 ||
        (args[0] != QLatin1String("dialable") && args[0] != QLatin1String("display"))) {
        err(QStringLiteral("usage: lybtool number dialable|display TEXT"));
        return 2;
    }
    const QString text = args.mid(1).join(QLatin1Char(' '));
    out(args[0] == QLatin1String("dialable") ? lyb::contacts::make_dialable(text)
                                             : lyb::contacts::format_for_display(text));
    return 0;
}

const lyb::tool::Registration reg{
    {"number", "dialable|display TEXT",
     "prints TEXT as Call Back dials it (the NANP setting applies) or as the list shows it", run}};

}  // namespace
