#pragma once

#include <QString>

// The XDG autostart entry that starts Pelkin Drop at login, in the hidden
// state: $XDG_CONFIG_HOME/autostart/org.pelkin.PelkinDrop.desktop. The file
// is the state; nothing else remembers whether it is on, so a user who
// removes it or turns it off in the desktop's session settings (Hidden=true,
// X-GNOME-Autostart-enabled=false) sees that in the menu.
class AutostartEntry
{
public:
    static constexpr const char *fileName = "org.pelkin.PelkinDrop.desktop";
    static constexpr const char *backgroundOption = "--background";

    // `program` is what the entry runs; empty: this process's executable,
    // by its bare name when PATH finds the same file (survives a move of
    // the package's binaries), otherwise by its full path.
    explicit AutostartEntry(QString program = {});

    QString filePath() const;
    bool isEnabled() const;
    // Writes or removes the entry. False with a Japanese message in
    // errorString() when the folder or file cannot be written or removed.
    bool setEnabled(bool enabled);
    QString errorString() const { return m_error; }

    // The entry's Exec value for `program`, quoted as desktop entries want.
    static QString execLine(const QString &program);

private:
    QString m_program;
    QString m_error;
};
