' The registered Quorvane.ocx from VBScript: ProgIDs, error numbers,
' DiscInfo, DAOLayout and the callback objects.
'
' cscript ends silently on an uncaught error, so every step runs under
' On Error Resume Next and the last line counts passes and failures.
' VBScript cannot compare unsigned 32-bit values: such results go
' through CLng. Enumeration values are written out: GetRef and .wsf are
' not available.
Option Explicit
On Error Resume Next

Dim passed, failed
passed = 0
failed = 0

Sub Expect(name, expected, actual)
  If Err.Number <> 0 Then
    failed = failed + 1
    WScript.Echo "FAILED: " & name & ": error " & Err.Number & " " & Err.Description
    Err.Clear
  ElseIf expected = actual Then
    passed = passed + 1
  Else
    failed = failed + 1
    WScript.Echo "FAILED: " & name & ": expected " & expected & ", found " & actual
  End If
End Sub

' Runs after a statement that must fail with the given error number.
Sub ExpectError(name, number)
  If Err.Number = number Then
    passed = passed + 1
  Else
    failed = failed + 1
    WScript.Echo "FAILED: " & name & ": expected error " & number & ", found " & Err.Number & " " & Err.Description
  End If
  Err.Clear
End Sub

Dim id, o
For Each id In Array("Quorvane.DiscInfo.1", "Quorvane.DiscInfo", "Quorvane.DAOLayout.1", "Quorvane.DAOLayout", _
                     "Quorvane.SimpleCallBack.1", "Quorvane.SimpleCallBack", _
                     "Quorvane.NotificationCallBack.1", "Quorvane.NotificationCallBack")
  Err.Clear
  Set o = CreateObject(id)
  Expect "CreateObject " & id, True, IsObject(o)
  Set o = Nothing
Next

' Classes that need drives or image trees are not registered yet.
For Each id In Array("Quorvane.Devices.1", "Quorvane.Device.1", "Quorvane.JolietImage.1", "Quorvane.Node.1", _
                     "Quorvane.NodeDateTime.1", "Quorvane.DVDVideoImage.1", "Quorvane.DVDVideoImage2.1", _
                     "Quorvane.Devices")
  Err.Clear
  Set o = CreateObject(id)
  ExpectError "CreateObject " & id, 429
Next

' A DiscInfo made by a client holds zero-filled records.
Dim d
Set d = CreateObject("Quorvane.DiscInfo.1")
Expect "IsBlank", False, d.IsBlank
Expect "IsErasable", False, d.IsErasable
Expect "FreeLBs", 0, d.FreeLBs
Expect "NextWritableAddress", 0, d.NextWritableAddress
Expect "TrackNumber", 0, d.TrackNumber
Expect "DiscStatus", 0, d.DiscStatus
Expect "LastSessionStatus", 0, d.LastSessionStatus
Expect "UsedSizeInLBs", 0, CLng(d.UsedSizeInLBs)
Expect "TotalSizeInLBs", 0, CLng(d.TotalSizeInLBs)
Dim x
x = d.NoSuchProperty
ExpectError "unknown member", 438
d.IsBlank = True
ExpectError "assigning a read-only property", 438

' DAOLayout: no validation of file names, optional CD-Text.
Dim l
Set l = CreateObject("Quorvane.DAOLayout")
Expect "new layout", 0, CLng(l.TrackCount)
l.AddTrack "C:\nowhere\one.wav"
l.AddTrack "two.wav", "Artist", "Title"
l.AddTrack "three.wav", , "Title only"
l.AddTrack "four.wav", 42
Expect "tracks added", 4, CLng(l.TrackCount)
l.AddCDTextInfo "Band", "Album"
l.AddCDTextInfo "Band 2", "Album 2"
Expect "AddCDTextInfo twice", 0, Err.Number
l.AddTrack "five.wav", Null
ExpectError "Null as CD-Text", 7
l.AddTrack "six.wav", d
ExpectError "an object as CD-Text", 7
Expect "nothing appended on failure", 4, CLng(l.TrackCount)
l.AddCDTextInfo "only the artist"
ExpectError "missing argument", 450
l.AddTrack d
ExpectError "an object as the file name", 13

' Callback objects.
Dim c, n
Set c = CreateObject("Quorvane.SimpleCallBack.1")
Expect "Percent at first", 0, c.Percent
c.Reset
Expect "Percent after Reset", 0, c.Percent
c.ProgressCallBack 50, 10
ExpectError "ProgressCallBack is not on the default interface", 438
Set n = CreateObject("Quorvane.NotificationCallBack.1")
n.NotifyCallBack
Expect "NotifyCallBack", 0, Err.Number

WScript.Echo passed & " passed, " & failed & " failed"
WScript.Quit failed
