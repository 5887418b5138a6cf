// DoorlockTestFormUnit: the door-lock test window.
//
// TDoorlockTestForm drives DoorlockDevice by hand: open and close the encoder,
// sound it, write a guest card for the typed room and stay (with the same
// start-time, room-time and issue-record rules as an issue request), read a
// card's number and erase a card. What each button does is a door-lock core
// function; the window only passes its boxes' texts. GUI thread only; the
// window assumes a device is installed.
#ifndef VELIO_DOORLOCK_DOORLOCKTESTFORMUNIT_H_
#define VELIO_DOORLOCK_DOORLOCKTESTFORMUNIT_H_

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TDoorlockTestForm : public QDialog {
  Q_OBJECT

 public:
  // Builds the controls, then FormCreate fills the two date-time boxes.
  explicit TDoorlockTestForm(QWidget* parent = nullptr);

  QPushButton* OpenPortBtn;
  QPushButton* beepBtn;
  QPushButton* ClosePortBtn;
  QLabel* Label2;
  QLineEdit* RoomBuildingCodeTxt;
  QLabel* Label3;
  QLineEdit* RoomFloorCodeTxt;
  QLabel* Label4;
  QLineEdit* RoomNoTxt;
  QLabel* Label7;
  QLineEdit* CheckInDateTimeTxt;
  QLabel* Label8;
  QLineEdit* CheckOutDateTimeTxt;
  QPushButton* WriteCardBtn;
  QCheckBox* IsCopyCheckBox;
  QLabel* Label1;
  QLineEdit* CardNoTxt;
  QPushButton* ReadCardBtn;
  QPushButton* EraseCardBtn;

 public slots:
  void OpenPortBtnClick();
  void ClosePortBtnClick();
  void beepBtnClick();
  void ReadCardBtnClick();
  void EraseCardBtnClick();
  void WriteCardBtnClick();

 private:
  void FormCreate();
};

// Shows the test window modally and frees it when it closes.
void ShowDoorlockTest();

#endif  // VELIO_DOORLOCK_DOORLOCKTESTFORMUNIT_H_
