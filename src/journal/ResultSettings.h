#pragma once

#include <QString>

namespace VLK {

// What the window and calvaro both read of the automatic download: whether
// it is on, and where a result goes. Kept in the window's settings store, so
// that a switch in one holds for the other.
class ResultSettings final
{
public:
    // The window's own store; calvaro opens the same one.
    ResultSettings();
    ResultSettings(QString organization, QString application);

    bool downloadsAutomatically() const;
    void setDownloadsAutomatically(bool on) const;
    // The path pattern of ResultPlacement; the default where none is stored.
    QString resultPathPattern() const;

private:
    QString m_organization;
    QString m_application;
};

} // namespace VLK
