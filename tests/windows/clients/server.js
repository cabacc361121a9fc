// The registered Quorvane.ocx from JScript: the drives listed, and a
// failure's number and text as a script reads them (JScript shows a script
// no error source). The scenario itself is server.vbs's, through the same
// dispatch. Argument: a scratch folder.
//
// cscript ends silently on an uncaught error: the last line counts passes
// and failures.
var passed = 0, failed = 0;

function expect(name, expected, actual) {
  if (expected === actual) {
    passed++;
  } else {
    failed++;
    WScript.Echo("FAILED: " + name + ": expected " + expected + ", found " + actual);
  }
}

try {
  var devs = new ActiveXObject("Quorvane.Devices.1");
  expect("drives listed", true, devs.Count > 0);
  for (var i = 0; i < devs.Count; i++) expect("device name", "CdRom" + i, devs.GetDevice(i).DeviceName);
  var img = new ActiveXObject("Quorvane.JolietImage");
  try {
    img.SaveImageToFile(WScript.Arguments(0) + "\\early.iso", new ActiveXObject("Quorvane.SimpleCallBack"));
    expect("saving before building fails", true, false);
  } catch (e) {
    expect("the failure's number", "800a0100", (e.number >>> 0).toString(16));
    expect("the failure's text", "Image is not built", e.description);
  }
} catch (e) {
  failed++;
  WScript.Echo("FAILED: error " + (e.number >>> 0).toString(16) + " " + e.description);
}

WScript.Echo(passed + " passed, " + failed + " failed");
WScript.Quit(failed);
