// Operator steps on the settings panels: typing into address fields and
// reading the error dialog a panel raised.
.pragma library

// Clicks each octet and types its part, as an operator fills an address.
function typeAddress(testCase, control, address) {
    var parts = address.split(".");
    for (var i = 0; i < 4; ++i) {
        var octet = control.octets[i];
        testCase.mouseClick(octet);
        testCase.keySequence("ctrl+a");
        testCase.keyClick(Qt.Key_Backspace);
        for (var j = 0; j < parts[i].length; ++j)
            testCase.keyClick(parts[i].charAt(j));
    }
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
