// The registered Quorvane.ocx from JScript, against the virtual drives
// (arguments: the folder to burn, a folder holding a file of the same name
// as one in the first, and a scratch folder): list the drives, build an
// image with a collision the script answers, burn it to a blank DVD+R,
// grab a track of a CD-RW and erase it, burn a Video CD, make and burn a
// DVD-Video image of the files of a VIDEO_TS folder (fourth argument),
// and the failures with their numbers, sources and texts.
//
// cscript ends silently on an uncaught error: every step runs in a try
// block and the last line counts passes and failures.
var passed = 0, failed = 0;

function expect(name, expected, actual) {
  if (expected === actual) {
    passed++;
  } else {
    failed++;
    WScript.Echo("FAILED: " + name + ": expected " + expected + ", found " + actual);
  }
}

function step(name, body) {
  try {
    body();
  } catch (e) {
    failed++;
    WScript.Echo("FAILED: " + name + ": error " + (e.number >>> 0).toString(16) + " " + e.description);
  }
}

// Runs body, which must throw the automation error number (unsigned) and,
// when given, the description. (JScript shows a script no error source.)
function expectError(name, number, body, description) {
  try {
    body();
    failed++;
    WScript.Echo("FAILED: " + name + ": no error");
  } catch (e) {
    expect(name, number.toString(16), (e.number >>> 0).toString(16));
    if (description !== undefined) expect(name + ": description", description, e.description);
  }
}

function findDrive(devs, discType, blank) {
  for (var i = 0; i < devs.Count; i++) {
    var dev = devs.GetDevice(i);
    if (dev.GetInsertedDiscType() == discType && dev.GetDiscInfo().IsBlank == blank) return dev;
  }
  return null;
}

var args = WScript.Arguments;
var source = args(0), other = args(1), scratch = args(2);
var devs = null, img = null, folder = null;

// The drives in order (their DiscInfo and the empty one are VBScript's).
step("list the drives", function () {
  devs = new ActiveXObject("Quorvane.Devices.1");
  for (var i = 0; i < devs.Count; i++) expect("device name", "CdRom" + i, devs.GetDevice(i).DeviceName);
});

var collisions = 0;
step("build an image", function () {
  img = new ActiveXObject("Quorvane.JolietImage");
  img.CollisionCallback = { OnCollision: function (oldPath, newPath, name) { collisions++; return 0; } };
  folder = img.Root.AddFolder("", source);
  var kept = folder.AddFile("", other + "\\a.txt");
  expect("the script answered the collision", 1, collisions);
  expect("skipped: the answer is a kid of the folder", folder.ImageLongName, kept.Parent.ImageLongName);
  var saved = new ActiveXObject("Quorvane.SimpleCallBack");
  expectError("saving before building", 0x800A0100, function () { img.SaveImageToFile(scratch + "\\early.iso", saved); },
              "Image is not built");
  // A node carries its file's date (not the time of the run, which may
  // cross midnight).
  var kid = folder.FirstKid, stamp = kid.DateTime, fso = new ActiveXObject("Scripting.FileSystemObject");
  var made = new Date(fso.FileExists(kid.AbsoluteName) ? fso.GetFile(kid.AbsoluteName).DateLastModified
                                                       : fso.GetFolder(kid.AbsoluteName).DateLastModified);
  expect("node year", made.getFullYear(), stamp.Year);
  expect("node month", made.getMonth() + 1, stamp.Month);
  expect("node day", made.getDate(), stamp.Day);
  img.Build(0, "JSCRIPT", "Quorvane test");
  img.SaveImageToFile(scratch + "\\js.iso", saved);
  expect("saving reports 100", 100, saved.Percent);
});

step("burn to a blank DVD+R", function () {
  var dev = findDrive(devs, 13, true);
  expect("a blank DVD+R", true, dev !== null);
  var reports = 0, last = -1;
  dev.Callback = { ProgressCallBack: function (percent, remaining) { reports++; last = percent; } };
  dev.TrackAtOnceFromFileSystemHandle(img.FileSystemHandle, false, false);
  expect("progress reports", true, reports > 0);
  expect("progress in percent", true, last > 0 && last <= 100);
  expect("the disc is written", false, dev.GetDiscInfo().IsBlank);
  expectError("a burn onto the closed disc", 0x800A0101, function () {
    dev.TrackAtOnceFromFileSystemHandle(img.FileSystemHandle, false, false);
  }, "There is no enough space");
  expect("the refusal's message", "Disc does not have enough space!", dev.ErrorMessage);
});

step("grab a track", function () {
  var dev = findDrive(devs, 3, false);
  var reports = 0, last = -1;
  dev.Callback = { ProgressCallBack: function (percent, remaining) { reports++; last = percent; } };
  dev.GrabTrack(1, scratch + "\\track1.iso", false);
  expect("grab progress reports", true, reports > 0 && last > 0 && last <= 100);
  expectError("a track the disc does not have", 0x800A0202, function () {
    dev.GrabTrack(9, scratch + "\\track9.iso", false);
  }, "User input parameter is not valid");
  expectError("importing into something else than a JolietImage", 0x80004002, function () {
    dev.ImportTrack(new ActiveXObject("Quorvane.DiscInfo"), true, 1);
  });
});

step("burn a Video CD", function () {
  var dev = findDrive(devs, 2, true);
  expect("a blank CD-R", true, dev !== null);
  expectError("a file that is no MPEG stream", 0x800A0202, function () {
    dev.SuperVideoCD(source + "\\a.txt", false);
  }, "User input parameter is not valid");
  expect("nothing was burnt", true, dev.GetDiscInfo().IsBlank);
  dev.VideoCD(scratch + "\\movie.mpg", false);
  expect("the CD-R is written", false, dev.GetDiscInfo().IsBlank);
  expectError("the handle of a DVD-Video image not built", 0x800A0100, function () {
    return new ActiveXObject("Quorvane.DVDVideoImage").FileSystemHandle;
  }, "Image is not built");
});

// A DVD-Video image of single files, added out of order: the image lays
// them out in the order players expect. Saved, then burnt to the DVD+R in
// CdRom7; run-wine.sh reads both.
step("a DVD-Video image of single files", function () {
  var dvd = new ActiveXObject("Quorvane.DVDVideoImage.1");
  var names = ["VTS_02_1.VOB", "VTS_01_0.BUP", "VIDEO_TS.IFO", "VTS_02_0.IFO", "VTS_01_1.VOB", "VIDEO_TS.BUP",
               "VTS_02_0.BUP", "VTS_01_0.IFO"];
  for (var i = 0; i < names.length; i++) dvd.AddFile(args(3) + "\\" + names[i]);
  dvd.Build("JSDVD");
  var saved = new ActiveXObject("Quorvane.SimpleCallBack");
  dvd.SaveImageToFile(scratch + "\\js-dvd.iso", saved);
  expect("saving the DVD-Video image reports 100", 100, saved.Percent);
  var dev = null;
  for (var d = 0; d < devs.Count; d++) if (devs.GetDevice(d).DeviceName == "CdRom7") dev = devs.GetDevice(d);
  expect("the DVD+R for the DVD-Video image", true, dev !== null);
  dev.TrackAtOnceFromFileSystemHandle(dvd.FileSystemHandle, false, false);
  expect("the DVD-Video disc is written", false, dev.GetDiscInfo().IsBlank);
  // No files at all: the two folders alone still make an image.
  var none = new ActiveXObject("Quorvane.DVDVideoImage");
  none.Build("EMPTY");
  none.SaveImageToFile(scratch + "\\js-dvd-empty.iso", saved);
  var missing = new ActiveXObject("Quorvane.DVDVideoImage");
  missing.AddFile(scratch + "\\no such file.VOB");
  expectError("a file that is not there", 0x80070002, function () { missing.Build("MISSING"); });
  expect("the failure's text", true, missing.ErrorMessage.length > 0);
});

step("erase a CD-RW", function () {
  var dev = findDrive(devs, 3, false);
  expect("a written CD-RW", true, dev !== null);
  var reports = 0;
  dev.Callback = { ProgressCallBack: function (percent, remaining) { reports++; } };
  dev.Erase(false);
  expect("erase reports its end", true, reports > 0);
  expect("the CD-RW is blank", true, dev.GetDiscInfo().IsBlank);
});

WScript.Echo(passed + " passed, " + failed + " failed");
WScript.Quit(failed);
