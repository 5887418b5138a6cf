// MemberTestFormUnit: the member card test window.
//
// TMemberTestForm drives MemberDevice by hand through MemberTestUnit: open and
// close the reader, sound it, read a card (showing the card number and
// password outputs) and write the typed card number. Results beyond the read outputs show only in
// the device's log lines; a device error goes to the error box. GUI thread only; the request server
// may use the same device at the same time.
#ifndef VELIO_MEMBER_MEMBERTESTFORMUNIT_H_
#define VELIO_MEMBER_MEMBERTESTFORMUNIT_H_

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TMemberTestForm : public QDialog {
  Q_OBJECT

 public:
  explicit TMemberTestForm(QWidget* parent = nullptr);

  QPushButton* OpenPortBtn;
  QPushButton* beepBtn;
  QPushButton* ClosePortBtn;
  QLabel* ChannelLbl;
  QComboBox* ChannelCmb;
  QLabel* CardNoLbl;
  QLineEdit* CardNoEdit;
  QLabel* PasswordLbl;
  QLineEdit* PasswordEdit;
  QPushButton* ReadCardBtn;
  QPushButton* WriteCardBtn;

 public slots:
  void OpenPortBtnClick();
  void ClosePortBtnClick();
  void beepBtnClick();
  void ReadCardBtnClick();
  void WriteCardBtnClick();
};

// Shows the test window modally and frees it when it closes.
void ShowMemberTest();

#endif  // VELIO_MEMBER_MEMBERTESTFORMUNIT_H_
