// placeholder
#include <QtTest>
class ServiceUnderAttackTest : public QObject { Q_OBJECT };
QTEST_APPLESS_MAIN(ServiceUnderAttackTest)
#include "tst_ServiceUnderAttack.moc"
