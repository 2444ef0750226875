// lybtool number: the dialable, display and E.164 forms of a caller number.
#include "contacts/number_forms.h"
#include "tools/command.h"

namespace {

int run(const QStringList& args) {
    using lyb::tool::err;
    using lyb::tool::out;
    const QString form = args.value(0);
    if (args.size() < 2 || (form != QLatin1String("dialable") && form != QLatin1String("display") &&
                            form != QLatin1String("e164"))) {
        err(QStringLiteral("usage: lybtool number dialable|display|e164 TEXT"));
        return 2;
    }
    const QString text = args.mid(1).join(QLatin1Char(' '));
    if (form == QLatin1String("dialable")) {
        out(lyb::contacts::make_dialable(text));
    } else if (form == QLatin1String("display")) {
        out(lyb::contacts::format_for_display(text));
    } else {
        const QString e164 = lyb::contacts::make_e164(text);
        if (e164.isEmpty())
            return 1;
        out(e164);
    }
    return 0;
}

const lyb::tool::Registration reg{
    {"number", "dialable|display|e164 TEXT",
     "prints TEXT as Call Back dials it (the NANP setting applies), as the list shows it (in "
     "LYRABELL_REGION or the locale's country), or in E.164 (exit 1: no number)",
     run}};

}  // namespace
