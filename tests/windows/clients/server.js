// The registered Quorvane.ocx from JScript: ProgIDs, error numbers and
// descriptions, DiscInfo, DAOLayout and the callback objects.
//
// cscript ends silently on an uncaught error: every step is caught, and
// the last line counts passes and failures.
var passed = 0, failed = 0;

function hex(n) { return (n >>> 0).toString(16).toUpperCase(); }

function expect(name, expected, actual) {
  if (expected === actual) { passed++; return; }
  failed++;
  WScript.Echo("FAILED: " + name + ": expected " + expected + ", found " + actual);
}

// Runs f, which must throw the given HRESULT.
function expectError(name, hresult, f) {
  try {
    f();
    failed++;
    WScript.Echo("FAILED: " + name + ": no error");
    return null;
  } catch (e) {
    expect(name, hex(hresult), hex(e.number));
    return e;
  }
}

function step(name, f) {
  try { f(); } catch (e) {
    failed++;
    WScript.Echo("FAILED: " + name + ": error " + hex(e.number) + " " + e.description);
  }
}

var served = ["Quorvane.DiscInfo.1", "Quorvane.DAOLayout.1", "Quorvane.SimpleCallBack.1",
              "Quorvane.NotificationCallBack.1", "Quorvane.DiscInfo", "Quorvane.NotificationCallBack"];
for (var i = 0; i < served.length; i++)
  step("create " + served[i], function () { expect("object " + served[i], "object", typeof new ActiveXObject(served[i])); });

var notServed = ["Quorvane.Devices.1", "Quorvane.Device.1", "Quorvane.JolietImage.1", "Quorvane.DVDVideoImage2.1"];
for (var j = 0; j < notServed.length; j++) {
  var e = expectError("create " + notServed[j], 0x800A01AD, function () { new ActiveXObject(notServed[j]); });
  if (e) expect("description", "Automation server can't create object", e.description);
}

step("DiscInfo", function () {
  var d = new ActiveXObject("Quorvane.DiscInfo.1");
  expect("IsBlank", false, d.IsBlank);
  expect("UsedSizeInLBs", 0, d.UsedSizeInLBs);
  expect("TotalSizeInLBs", 0, d.TotalSizeInLBs);
  expect("FreeLBs", 0, d.FreeLBs);
  expect("TrackNumber", 0, d.TrackNumber);
  expect("DiscStatus", 0, d.DiscStatus);
  expectError("a property called with arguments", 0x80020003, function () { d.IsBlank(1, 2); });
});

step("DAOLayout", function () {
  var l = new ActiveXObject("Quorvane.DAOLayout.1");
  expect("new layout", 0, l.TrackCount);
  l.AddTrack("C:\\nowhere\\one.wav");
  l.AddTrack("two.wav", "Artist", "Title");
  l.AddTrack("three.wav", 7);
  expect("tracks", 3, l.TrackCount);
  l.AddCDTextInfo("Band", "Album");
  l.AddCDTextInfo("Band 2", "Album 2");
  expectError("null as CD-Text", 0x8007000E, function () { l.AddTrack("four.wav", null); });
  expect("nothing appended", 3, l.TrackCount);
  expectError("missing argument", 0x8002000E, function () { l.AddCDTextInfo("only one"); });
  expectError("no arguments", 0x8002000E, function () { l.AddTrack(); });
});

step("callbacks", function () {
  var c = new ActiveXObject("Quorvane.SimpleCallBack.1");
  expect("Percent", 0, c.Percent);
  c.Reset();
  expect("Percent after Reset", 0, c.Percent);
  var n = new ActiveXObject("Quorvane.NotificationCallBack.1");
  n.NotifyCallBack();
  passed++;
});

WScript.Echo(passed + " passed, " + failed + " failed");
WScript.Quit(failed);
