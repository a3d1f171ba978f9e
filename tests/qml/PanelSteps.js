// Operator steps on the settings panels: typing into address fields and
// reading the error dialog a panel raised.
.pragma library

// Clicks the first octet and types the address, moving on with Tab as an
// operator does (a third digit moves on by itself).
function typeAddress(testCase, control, address) {
    var parts = address.split(".");
    testCase.mouseClick(control.octets[0]);
    testCase.keySequence("ctrl+a");
    for (var i = 0; i < 4; ++i) {
        // An octet selects its text when it takes the focus, so typing replaces it.
        typeText(testCase, parts[i]);
        if (i < 3 && parts[i].length < 3)
            testCase.keyClick(Qt.Key_Tab);
    }
    testCase.compare(control.text, address);
}

function clearOctet(testCase, control, index) {
    testCase.mouseClick(control.octets[index]);
    testCase.keySequence("ctrl+a");
    testCase.keyClick(Qt.Key_Backspace);
}

function typeText(testCase, text) {
    for (var i = 0; i < text.length; ++i)
        testCase.keyClick(text.charAt(i));
}

// The first key after a dialog window comes up can be swallowed while the
// window is being activated; End is harmless whether or not it arrives.
function typeIntoDialog(testCase, text) {
    testCase.keyClick(Qt.Key_End);
    typeText(testCase, text);
}

// Scrolls the settings page with the mouse wheel until the field is in sight.
function scrollTo(testCase, page, field) {
    var flickable = testCase.findChild(page, "settingsFlickable");
    for (var i = 0; i < 40; ++i) {
        var top = field.mapToItem(flickable, 0, 0).y;
        if (top >= 0 && top + field.height <= flickable.height)
            return;
        testCase.mouseWheel(flickable, flickable.width / 2, flickable.height / 2, 0, top < 0 ? 120 : -120);
        testCase.tryVerify(function() { return !flickable.moving; });
    }
    testCase.fail("the field never came into sight");
}
