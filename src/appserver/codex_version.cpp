#include "appserver/codex_version.h"

#include <QString>
#include <QStringList>
#include <QTextBoundaryFinder>

namespace orvane {

namespace {

constexpr int versionLimit = 64;

QString withoutControls(const QString &line)
{
    QString kept;
    for (const QChar c : line) {
        if (c.category() != QChar::Other_Control && c.category() != QChar::Other_Format)
            kept += c;
    }
    return kept;
}

QString firstCharacters(const QString &text, int count)
{
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    int seen = 0;
    while (seen < count && graphemes.toNextBoundary() >= 0)
        ++seen;
    return seen < count ? text : text.left(graphemes.position());
}

} // namespace

std::optional<std::string> codexVersionLine(std::string_view output)
{
    const QString text = QString::fromUtf8(output.data(), static_cast<qsizetype>(output.size()));
    for (const QString &line : text.split(QChar('\n'))) {
        const QString clean = withoutControls(line).trimmed();
        if (!clean.isEmpty())
            return firstCharacters(clean, versionLimit).trimmed().toStdString();
    }
    return std::nullopt;
}

} // namespace orvane
