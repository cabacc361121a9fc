' The registered Quorvane.ocx from VBScript: error numbers as a script
' sees them, DAOLayout's optional arguments, and the user's scenario.
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

' DAOLayout's optional arguments as a script leaves them out (what each
' kind of VARIANT stores is the in-process server test's).
Dim l
Set l = CreateObject("Quorvane.DAOLayout")
l.AddTrack "three.wav", , "Title only"
Expect "an argument left out", 1, CLng(l.TrackCount)

Scenario

WScript.Echo passed & " passed, " & failed & " failed"
WScript.Quit failed

' ---------------------------------------------------------------------------
' The user's scenario against the virtual drives (arguments: the folder to
' burn, a folder holding a file of the same name as one in the first, and
' a scratch folder, then a boot image and a VIDEO_TS folder): list the
' drives, build an image with a collision the script answers, burn it to a
' blank DVD+R, grab and erase a CD-RW, burn a Video CD, make DVD-Video
' images, and the failures. run-wine.sh reads what they leave.

Class CollisionSink
  Public Count
  Public Function OnCollision(oldPath, newPath, name)
    Count = Count + 1
    ' VBScript cannot hand back a new name (by-reference arguments do not
    ' come back through IDispatch here): the new file replaces the old.
    OnCollision = 1
  End Function
End Class

Class ProgressSink
  Public Count
  Public Last
  Public Sub ProgressCallBack(percent, remaining)
    Count = Count + 1
    Last = percent
  End Sub
End Class

Function FindDrive(devs, discType, blank)
  Dim i, dev, info
  On Error Resume Next
  Set FindDrive = Nothing
  For i = 0 To devs.Count - 1
    Set dev = devs.GetDevice(i)
    If dev.GetInsertedDiscType() = discType Then
      Set info = dev.GetDiscInfo()
      If info.IsBlank = blank Then
        Set FindDrive = dev
        Exit Function
      End If
    End If
  Next
End Function

Sub Scenario()
  On Error Resume Next  ' each procedure needs its own
  If WScript.Arguments.Count < 3 Then Exit Sub
  Dim source, other, scratch, devs, dev, info, i, listed, noDisc
  source = WScript.Arguments(0)
  other = WScript.Arguments(1)
  scratch = WScript.Arguments(2)

  Set devs = CreateObject("Quorvane.Devices")
  Expect "Devices is one object", True, devs Is CreateObject("Quorvane.Devices.1")
  Expect "drives listed", True, devs.Count >= 3
  listed = 0
  Set noDisc = Nothing
  For i = 0 To devs.Count - 1
    Set dev = devs.GetDevice(i)
    Expect "vendor " & i, "QUORVANE", dev.VendorID
    Set info = dev.GetDiscInfo()
    If Err.Number = 0 Then
      listed = listed + 1
    Else
      Err.Clear
      Set noDisc = dev
    End If
  Next
  Expect "a DiscInfo of every drive with a disc", devs.Count - 1, listed
  devs.GetDevice devs.Count
  ExpectError "GetDevice(Count)", 5

  ' No disc: the engine's error with its source and description.
  Dim number, errSource, description
  noDisc.TestUnitReady
  number = Err.Number
  errSource = Err.Source
  description = Err.Description
  Err.Clear
  Expect "no disc: an engine error", True, number > 512 And number < 1024
  Expect "no disc: source", "Quorvane.Device.1", errSource
  Expect "no disc: description", True, Len(description) > 0
  Expect "no disc: ErrorMessage", True, Len(noDisc.ErrorMessage) > 0

  ' The image, with a collision answered here.
  Dim img, root, folder, node, collider
  Set img = CreateObject("Quorvane.JolietImage")
  Set collider = New CollisionSink
  collider.Count = 0
  Set img.CollisionCallback = collider
  Set root = img.Root
  Expect "a new root has no kids", True, root.FirstKid Is Nothing
  Set folder = root.AddFolder("", source)
  Expect "AddFolder", 0, Err.Number
  Set node = folder.AddFile("", other & "\a.txt")
  Expect "the script answered the collision", 1, collider.Count
  img.SaveImageToFile scratch & "\early.iso", Nothing
  ExpectError "saving before building", 256
  ' A boot image that cannot be read is refused; the one that can be is
  ' hidden from the tree (run-wine.sh finds its El Torito record).
  img.SetBootImage scratch & "\missing.img", 0, 4, True
  number = Err.Number
  Err.Clear
  Expect "a missing boot image is refused", True, number <> 0
  Expect "the refusal's text", True, Len(img.ErrorMessage) > 0
  img.SetBootImage WScript.Arguments(3), 0, 4, True
  Expect "SetBootImage", 0, Err.Number
  img.Build 0, "VBSCRIPT", "Quorvane test"
  Expect "Build", 0, Err.Number

  ' Burn it to a blank DVD+R.
  Dim progress
  Set dev = FindDrive(devs, 13, True)
  Expect "a blank DVD+R", False, dev Is Nothing
  Set progress = New ProgressSink
  progress.Count = 0
  Set dev.Callback = progress
  dev.TrackAtOnceFromFileSystemHandle img.FileSystemHandle, False, False
  Expect "burn", 0, Err.Number
  Expect "progress reports", True, progress.Count > 0
  Expect "progress in percent", True, progress.Last > 0 And progress.Last <= 100
  Set info = dev.GetDiscInfo()
  Expect "the disc is no longer blank", False, info.IsBlank
  dev.TrackAtOnceFromFileSystemHandle img.FileSystemHandle, False, False
  description = Err.Description
  ExpectError "a burn onto the closed disc", 257
  Expect "its description", "There is no enough space", description
  Expect "its message", "Disc does not have enough space!", dev.ErrorMessage
  dev.TrackAtOnceFromFileSystemHandle 424242, False, False
  ExpectError "an unknown file-system handle", 514

  ' The CD-RW's first track grabbed, then the disc erased.
  Set dev = FindDrive(devs, 3, False)
  progress.Count = 0
  Set dev.Callback = progress
  dev.GrabTrack 1, scratch & "\track1.iso", False
  Expect "grab", 0, Err.Number
  Expect "grab progress", True, progress.Count > 0 And progress.Last > 0 And progress.Last <= 100
  dev.GrabTrack 9, scratch & "\track9.iso", False
  ExpectError "a track the disc does not have", 514
  dev.Erase False
  Expect "erase", 0, Err.Number
  Expect "the CD-RW is blank", True, dev.GetDiscInfo().IsBlank

  ' A Video CD on the blank CD-R, once a file that is none is refused.
  Set dev = FindDrive(devs, 2, True)
  dev.SuperVideoCD source & "\a.txt", False
  ExpectError "a file that is no MPEG stream", 514
  dev.VideoCD scratch & "\movie.mpg", False
  Expect "the Video CD", False, dev.GetDiscInfo().IsBlank

  DvdVideo scratch, WScript.Arguments(4)
  DvdVideoFiles devs, scratch, WScript.Arguments(4)
End Sub

' DVD-Video images of a VIDEO_TS folder, as authored and patched, saved
' for run-wine.sh to read.
Sub DvdVideo(scratch, videoTs)
  On Error Resume Next
  Dim dvd, saved, number, x
  Set dvd = CreateObject("Quorvane.DVDVideoImage2")
  dvd.SaveImageToFile scratch & "\early-dvd.iso", Nothing
  ExpectError "saving a DVD-Video image before making it", 256
  x = dvd.FileSystemHandle
  ExpectError "the handle of an image not made", 256
  dvd.CreateImage scratch & "\no VIDEO_TS here", "VBSDVD", "PUBLISHER", "APPLICATION", False
  number = Err.Number
  Err.Clear
  Expect "a folder without VIDEO_TS is refused", True, number <> 0
  Expect "the refusal's text", True, Len(dvd.ErrorMessage) > 0
  dvd.CreateImage videoTs, "VBSDVD", "PUBLISHER", "APPLICATION", False
  Expect "CreateImage", 0, Err.Number
  Set saved = CreateObject("Quorvane.SimpleCallBack")
  dvd.SaveImageToFile scratch & "\vbs-dvd.iso", saved
  Expect "SaveImageToFile", 0, Err.Number
  Expect "saving reports 100", 100, saved.Percent
  ' Again with the IFO addresses patched to where the files now lie.
  dvd.CreateImage videoTs, "VBSDVD", "PUBLISHER", "APPLICATION", True
  Expect "CreateImage patching the IFO files", 0, Err.Number
  Expect "the patched image's handle", True, dvd.FileSystemHandle <> 0
  dvd.SaveImageToFile scratch & "\vbs-dvd-patched.iso", Nothing
  Expect "SaveImageToFile of the patched image", 0, Err.Number
End Sub

' A DVD-Video image of single files, added out of order: laid out in the
' order players expect, saved, and burnt to CdRom6.
Sub DvdVideoFiles(devs, scratch, videoTs)
  On Error Resume Next
  Dim dvd, name, dev, i, number
  Set dvd = CreateObject("Quorvane.DVDVideoImage.1")
  For Each name In Array("VTS_02_1.VOB", "VTS_01_0.BUP", "VIDEO_TS.IFO", "VTS_02_0.IFO", "VTS_01_1.VOB", _
                         "VIDEO_TS.BUP", "VTS_02_0.BUP", "VTS_01_0.IFO")
    dvd.AddFile videoTs & "\" & name
  Next
  dvd.Build "FILESDVD"
  dvd.SaveImageToFile scratch & "\files-dvd.iso", Nothing
  Expect "the DVD-Video image of files", 0, Err.Number
  For i = 0 To devs.Count - 1
    If devs.GetDevice(i).DeviceName = "CdRom6" Then Set dev = devs.GetDevice(i)
  Next
  dev.TrackAtOnceFromFileSystemHandle dvd.FileSystemHandle, False, False
  Expect "the DVD-Video disc", False, dev.GetDiscInfo().IsBlank
  ' No files at all: the two folders alone still make an image.
  Set dvd = CreateObject("Quorvane.DVDVideoImage")
  dvd.Build "EMPTY"
  dvd.SaveImageToFile scratch & "\files-dvd-empty.iso", Nothing
  Expect "the image without files", 0, Err.Number
  Set dvd = CreateObject("Quorvane.DVDVideoImage")
  dvd.AddFile scratch & "\no such file.VOB"
  dvd.Build "MISSING"
  number = Err.Number
  Err.Clear
  Expect "a file that is not there is refused", True, number <> 0
  Expect "the refusal's text", True, Len(dvd.ErrorMessage) > 0
End Sub
