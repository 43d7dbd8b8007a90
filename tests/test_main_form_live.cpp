// The whole program on a real interface: Start in the window, a TCP exchange through a veth
// between two namespaces, the exchange's lines in the log view after a tick.
#include <QComboBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

#include "testsupport/NetnsLab.h"
#include "testsupport/ObservedLayer.h"
#include "testsupport/TcpExchange.h"
#include "ui/qt/Application.h"
#include "ui/qt/LogView.h"
#include "ui/qt/UnitMain.h"

class MainFormLiveTest : public QObject {
  Q_OBJECT

 private slots:
  void ExchangeAppearsInTheLog() {
    if (auto reason = NetnsUnavailable()) QSKIP(reason->c_str());
    TVethLab lab;
    const auto set_ups = std::make_shared<TSetUps>();
    TMainForm form(ObservedServices(set_ups));
    auto* ecr = form.findChild<TLogView*>("Ecr");
    auto* button = form.findChild<QPushButton*>("Btn_StartStop");
    form.findChild<QComboBox*>("EditIp")->setEditText(TVethLab::kAddressA);
    // The capture thread lives in the namespace its creator was in.
    lab.A.Run([&] { QTest::mouseClick(button, Qt::LeftButton); });
    QCOMPARE(button->text(), QString("Stop"));
    QVERIFY(set_ups->Await(1));
    QCOMPARE(Exchange(lab.A, lab.B, TVethLab::kAddressB), std::string("200 OK\r\n"));
    const auto lines = [ecr] {
      QStringList all;
      for (std::uint64_t i = 0; i < ecr->LineCount(); ++i)
        all << ecr->LineText(i);
      return all;
    };
    const QString date = R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d )";
    const QRegularExpression request("^" + date +
                                     R"(     10\.199\.0\.1:\d+ =>      10\.199\.0\.2:8080 )"
                                     R"(    ACK PSH             GET /index$)");
    const QRegularExpression reply("^" + date +
                                   R"(     10\.199\.0\.2:8080 =>      10\.199\.0\.1:\d+ )"
                                   R"(    ACK PSH             200 OK$)");
    const QRegularExpression syn("^" + date + R"(.* =>      10\.199\.0\.2:8080 {17}SYN {5}$)");
    QTRY_COMPARE_WITH_TIMEOUT(lines().filter(request).size(), 1, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(lines().filter(reply).size(), 1, 3000);
    QCOMPARE(lines().filter(syn).size(), 1);
    QCOMPARE(lines().filter(QRegularExpression(" RST ")).size(), 1);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(button->text(), QString("Start"));
  }
};

int main(int argc, char** argv) {
  TApplication application(argc, argv);
  MainFormLiveTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_main_form_live.moc"
