// The properties program's connection to the device: one Kestrin1::CKestrin
// shared by the whole process, device events turned into two virtual calls
// on the most recently built CKestrinBase, and the ball's activity and the
// button value kept for the device picture.
#pragma once
#include <windows.h>

#include "Kestrin1.h"

class CKestrinBase {
 public:
  // Makes the shared connection when there is none (it stays null when the
  // allocation fails), registers the callback for this process and makes
  // this object the one that receives the events.
  CKestrinBase();
  // Destroys the shared connection; no object receives events afterwards.
  virtual ~CKestrinBase();
  CKestrinBase(const CKestrinBase&) = delete;
  CKestrinBase& operator=(const CKestrinBase&) = delete;

  // The activity word changed (the ball or the scroll hat became active or
  // was released). Default: nothing.
  virtual void OnActivityChanged(WORD oldWord, WORD newWord);
  // The device's button value changed. Default: nothing.
  virtual void OnButtonsChanged(long oldButtons, long newButtons);

  // One device event: index 0 ball active, 1 ball released, 2 scroll hat
  // active, 3 scroll hat released, 4 buttons changed (param: the new value).
  static void OnButtonEvent(long param, int index);

  // The motion since the last read: the six ball values and the two scroll
  // values (0 when nothing new), seconds from the ball's tics or else the
  // scroll hat's (untouched when neither had news). 0x10 when the ball had
  // new motion, plus 0x20 when the scroll hat had.
  static int ReadMotion(float& seconds, short ball[6], short scroll[2]);

  // The process-wide state.
  static Kestrin1::CKestrin* SharedConnection() { return s_pKestrin; }
  static CKestrinBase* Current() { return s_pCurrent; }
  // Bits 0x04 and 0x10 while the ball is active, 0x08 and 0x20 while the
  // scroll hat is; bits 0 and 1 always set. Starts at 3.
  static WORD Activity() { return s_Activity; }
  // The last value of EventButtonsChanged; bit i is button i.
  static long Buttons() { return s_Buttons; }

 protected:
  static Kestrin1::CKestrin* s_pKestrin;
  static CKestrinBase* s_pCurrent;
  static WORD s_Activity;
  static long s_Buttons;
};

// The library's callback: events 1 to 5 (low byte) go to OnButtonEvent while
// a connection and a current object exist; everything else is ignored.
long KESTRIN1_CALLBACK KestrinBaseCallback(unsigned int event, long param);
