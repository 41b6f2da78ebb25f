#include "widgets/program_icon.h"

namespace brindle {

namespace {

QIcon IconOf(const QString& name) {
    QIcon icon;
    for (int nSize : {48, 256})
        icon.addFile(QStringLiteral(":/icons/%1-%2.png").arg(name).arg(nSize), QSize(nSize, nSize));
    return icon;
}

} // namespace

QIcon HostIcon() {
    return IconOf(QStringLiteral("brindle-host"));
}

QIcon ViewIcon() {
    return IconOf(QStringLiteral("brindle-view"));
}

} // namespace brindle
