// Shared steps of the Qt Quick tests that work against the simulated fleet.
.pragma library

// Starts the fleet once and waits until discovery and login have found all of it.
function start(testCase, fixture, context, fleetFile, serverCount) {
    testCase.verify(fixture.startFleet(fleetFile), "the simulated fleet did not start");
    var model = context.selectionModel();
    testCase.tryCompare(model, "serversCount", serverCount, 15000);
    return model;
}

function serverRow(fixture, model, name) {
    var rows = fixture.modelRows(model);
    for (var i = 0; i < rows.length; ++i) {
        if (rows[i].itemType === 1 && rows[i].name.indexOf(name + " (") === 0)
            return i;
    }
    return -1;
}

function systemRow(fixture, model, systemName) {
    var rows = fixture.modelRows(model);
    for (var i = 0; i < rows.length; ++i) {
        if (rows[i].itemType === 0 && rows[i].systemName === systemName)
            return i;
    }
    return -1;
}

function waitLoggedIn(testCase, fixture, model, names) {
    testCase.tryVerify(function() {
        var rows = fixture.modelRows(model);
        var logged = 0;
        for (var i = 0; i < rows.length; ++i) {
            for (var j = 0; j < names.length; ++j) {
                if (rows[i].itemType === 1 && rows[i].loggedIn && rows[i].name.indexOf(names[j] + " (") === 0)
                    ++logged;
            }
        }
        return logged === names.length;
    }, 15000, "servers not logged in: " + names);
}

// Makes exactly the named servers the selection, through the model's own slots.
function select(testCase, fixture, context, names) {
    var model = context.selectionModel();
    waitLoggedIn(testCase, fixture, model, names);
    model.setAllItemSelected(false);
    for (var i = 0; i < names.length; ++i)
        model.changeItemSelectedState(serverRow(fixture, model, names[i]));
    testCase.compare(context.selection.count, names.length);
}

// Applies what the panels handed over and waits for the summary.
function applyAndWait(testCase, context) {
    var manager = context.changesManager();
    manager.applyChanges();
    testCase.tryCompare(context, "currentPage", 2, 15000);
}

// Result rows of the latest run, as "setting=value" texts, failed and successful together.
function resultRows(fixture, context) {
    var manager = context.changesManager();
    var rows = [];
    var models = [manager.successfulResultsModel(), manager.failedResultsModel()];
    for (var m = 0; m < models.length; ++m) {
        var modelRows = fixture.modelRows(models[m]);
        for (var i = 0; i < modelRows.length; ++i)
            rows.push(modelRows[i].name + "=" + modelRows[i].value);
    }
    return rows.sort();
}

function backToSettings(context) {
    context.changesManager().clearChanges();
    context.currentPage = 0;
}
