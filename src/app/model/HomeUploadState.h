#pragma once

#include <QObject>
#include <QString>

// Whether the Home tab's upload is running. There is no success state: after
// an upload the state is Idle again and AppModel::homeUploadResult carries the
// outcome.
//
// QML: qmlRegisterUncreatableMetaObject(HomeUploadState::staticMetaObject, "Pelkin.Model",
//                                       1, 0, "HomeUploadState", "enumeration");
class HomeUploadState
{
    Q_GADGET
public:
    enum Value { Idle, Uploading };
    Q_ENUM(Value)

    // "idle", "uploading".
    static QString rawValue(Value state);
};
