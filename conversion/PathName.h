#pragma once

#include <QString>

// Path strings joined and taken apart the way the conversion names its folders.
namespace PathName {

// The last component, trailing separators ignored ("/a/b/" gives "b", "/" gives "/").
inline QString lastComponent(const QString &path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    if (p == QLatin1String("/"))
        return p;
    return p.mid(p.lastIndexOf(QLatin1Char('/')) + 1);
}

// Appends one component with exactly one separator.
inline QString join(const QString &directory, const QString &component)
{
    QString d = directory;
    while (d.endsWith(QLatin1Char('/')))
        d.chop(1);
    QString c = component;
    while (c.startsWith(QLatin1Char('/')))
        c.remove(0, 1);
    return d + QLatin1Char('/') + c;
}

} // namespace PathName
