// What the operator reads: every visible text below an item.
.pragma library

function visibleTexts(item) {
    var found = [];
    function walk(node) {
        if (!node || node.visible === false || node.opacity === 0)
            return;
        if (node.font !== undefined && typeof node.text === "string" && node.text.trim().length > 0)
            found.push(node);
        for (var i = 0; i < node.children.length; ++i)
            walk(node.children[i]);
    }
    walk(item);
    return found;
}

// Texts drawn in another font than the given families, as "text: family".
function foreignFonts(item, families) {
    return visibleTexts(item).filter(function(text) {
        return families.indexOf(text.font.family) < 0;
    }).map(function(text) {
        return text.text + ": " + text.font.family;
    });
}

// Texts that cannot be read whole: elided, wider than their field, or
// reaching outside the area that can be scrolled to.
function cutTexts(item, area, areaWidth) {
    return visibleTexts(item).filter(function(text) {
        var box = text.mapToItem(area, 0, 0, text.width, text.height);
        var drawn = Math.max(text.width, text.contentWidth);
        var input = text.cursorPosition !== undefined;
        return text.truncated === true || (input && text.contentWidth > text.width + 0.5)
            || box.x < -0.5 || box.x + drawn > areaWidth + 0.5;
    }).map(function(text) {
        return text.text;
    });
}

// Texts wider than their box at the current scale: a line that does not fit
// its width (elided or not), or lines taller than the box they are given.
function overflowingTexts(item) {
    return visibleTexts(item).filter(function(text) {
        if (text.contentWidth === undefined)
            return false;
        // A text input's implicit width counts its cursor too.
        var input = text.cursorPosition !== undefined;
        var wraps = text.wrapMode !== undefined && text.wrapMode !== 0;   // Text.NoWrap
        var wide = wraps || input ? text.contentWidth : text.implicitWidth;
        return text.truncated === true || wide > text.width + 0.5 || text.contentHeight > text.height + 0.5;
    }).map(function(text) {
        return text.text + " (" + text.implicitWidth.toFixed(1) + " x " + text.contentHeight.toFixed(1)
            + " in " + text.width.toFixed(1) + " x " + text.height.toFixed(1) + ")";
    });
}
