"""Fleet descriptions: reading, checking and generating them.

A description is a JSON object {"servers": [...], "askers": [...]}. Every
server field has a default so that small test fleets stay short; whatever is
given is checked, and a bad value is reported with the path of its field.
"""

import datetime
import ipaddress
import json
import re
import uuid
import zoneinfo

from .http import TRAILING as TRAILING_MODES

FLAG_MARKERS = ("SF_timeCtrl", "SF_IfListCtrl", "SF_AutoSystemName")
DEFAULT_FLAGS = "SF_timeCtrl SF_IfListCtrl"
DEFAULT_PORT = 7001
DEFAULT_PASSWORD = "738"
DEFAULT_ZONE = "Europe/Berlin"
COMMANDS = ("gettime", "iflist", "settime", "configure", "ifconfig")
CHANGE_KINDS = ("systemName", "password", "port", "settime", "ifconfig")
# How a response reaches the client when a server misbehaves on the wire:
# endless bodies (by length or chunked), endless headers, an endless status
# line, or a reset halfway through.
FRAMING_MODES = ("endless", "endlessChunked", "manyHeaders", "endlessHeaderLine",
                 "endlessStatusLine", "reset")
# TRAILING_MODES: an answer the client can read, followed trailMs later on the
# same kept-alive connection by a complete success answer nobody asked for:
# after a complete response, after a 204 or an empty body, after a body framed
# both by chunks and by length, after a chunked body named with a blank before
# the colon, and after a chunked HTTP/1.0 answer kept alive.
REPLY_MODES = ("normal", "nonJson", "truncated", "keyless", "oversize", "garbage") + FRAMING_MODES \
    + TRAILING_MODES
CHALLENGE_MODES = ("normal",) + FRAMING_MODES
ANSWER_MODES = ("normal", "nonJson", "foreign", "oversize", "duplicateKeys", "truncated", "garbage")
AUTH_SCHEMES = ("basic", "digest", "never")
HTTP_MODES = ("normal", "closed", "silent")

# Behaviour switches; every server starts from these and a description or the
# control interface overrides single keys.
DEFAULT_KNOBS = {
    "discovery": True,          # answer discovery requests at all
    "alternate": False,         # answer from the first two addresses in turn
    "answerMode": "normal",     # what a discovery answer looks like
    "answerBytes": 60000,       # size of an "oversize" discovery answer
    "auth": "basic",
    "hang": False,              # accept HTTP requests and never answer
    "delayMs": 0,               # before every authenticated answer
    "replyMode": "normal",
    "oversizeBytes": 8 * 1024 * 1024,
    "error": None,              # any JSON value but "0" and "": answer with it and change nothing
    "errorString": None,        # None leaves the key out
    "replyStatus": 200,         # status of the answers to faultCommands, the change carried out
    "faultCommands": None,      # commands the reply faults apply to; None: all
    "refuse": [],               # change kinds answered with an error
    "refuseString": "Operation is not permitted",
    "ifconfigApply": True,      # False: accept "ifconfig" and change nothing
    "ifconfigDelayMs": 500,     # until an accepted "ifconfig" takes effect
    "delayCommands": None,      # commands delayMs applies to; None: all
    "trailMs": 20,              # until the stray answer of a trailing reply mode
    "dropAnswer": [],           # change kinds carried out, then the connection closed unanswered
    "dropCount": 1,             # how many such answers are dropped; None: every one
    "dropHoldMs": 0,            # how long the connection is held before it is closed
    "ignorePort": False,        # True: a port change is answered as accepted and not made
    # Hostile peers.
    "http": "normal",           # "closed": nothing listens; "silent": connections are never accepted
    "challengeMode": "normal",  # how the 401 challenge goes out (a FRAMING_MODES value)
    "dripMs": 0,                # send every response one byte per dripMs
    "headerLines": 10000,       # header lines of "manyHeaders"
    "discoveryLimit": None,     # answer only this many discovery requests
    "flapMs": 0,                # answer discovery for flapMs, then not for flapMs, in turn
    "floodIds": 0,              # answer each request also as this many made-up servers
    "floodPerSecond": 0,        # keep sending answers at this rate to the latest asker
    "utcTime": None,            # "utcTime" of gettime, verbatim
    "zoneId": None,             # "timezoneId" of gettime, verbatim and unchecked
}


class FleetError(ValueError):
    """A description that cannot be used; the text names the field."""


def _fail(path, text):
    raise FleetError("%s: %s" % (path, text))


def check_string(path, value, allow_empty=True):
    if not isinstance(value, str):
        _fail(path, "expected a string, got %s" % json.dumps(value))
    if not allow_empty and not value:
        _fail(path, "must not be empty")
    return value


def check_integer(path, value, low=None, high=None):
    if isinstance(value, bool) or not isinstance(value, int):
        _fail(path, "expected an integer, got %s" % json.dumps(value))
    if (low is not None and value < low) or (high is not None and value > high):
        _fail(path, "%d is outside %s..%s" % (value, low, high))
    return value


def _boolean(path, value):
    if not isinstance(value, bool):
        _fail(path, "expected true or false, got %s" % json.dumps(value))
    return value


def _choice(path, value, choices):
    if value not in choices:
        _fail(path, "expected one of %s, got %s" % (", ".join(choices), json.dumps(value)))
    return value


def loopback_address(path, value):
    check_string(path, value)
    try:
        address = ipaddress.IPv4Address(value)
    except ValueError:
        _fail(path, "not an IPv4 address: %s" % json.dumps(value))
    if not address.is_loopback:
        _fail(path, "%s is not in 127.0.0.0/8" % value)
    return value


def is_loopback(text):
    try:
        return ipaddress.IPv4Address(text).is_loopback
    except ValueError:
        return False


def canonical_id(path, value):
    check_string(path, value)
    try:
        return "{%s}" % uuid.UUID(value.strip("{}"))
    except ValueError:
        _fail(path, "not a UUID: %s" % json.dumps(value))


def fixed_offset(zone_id):
    """Seconds of a fixed-offset id such as "UTC+03:00", else None."""
    match = re.fullmatch(r"UTC([+-])(\d\d):(\d\d)", zone_id)
    if not match:
        return None
    seconds = int(match.group(2)) * 3600 + int(match.group(3)) * 60
    return -seconds if match.group(1) == "-" else seconds


def zone_offset_seconds(zone_id, utc_ms):
    """The zone's offset from UTC at the given instant."""
    offset = fixed_offset(zone_id)
    if offset is not None:
        return offset
    moment = datetime.datetime.fromtimestamp(utc_ms / 1000, datetime.timezone.utc)
    return int(moment.astimezone(zoneinfo.ZoneInfo(zone_id)).utcoffset().total_seconds())


def check_zone(path, value):
    """An IANA id, or a fixed-offset id as the tool's zone list also offers."""
    check_string(path, value, allow_empty=False)
    if fixed_offset(value) is not None:
        return value
    try:
        zoneinfo.ZoneInfo(value)
    except (zoneinfo.ZoneInfoNotFoundError, ValueError):
        _fail(path, "unknown time zone %s" % json.dumps(value))
    return value


def check_knobs(path, knobs, base=None):
    """Returns base (or the defaults) updated with the checked knobs."""
    if not isinstance(knobs, dict):
        _fail(path, "expected an object")
    result = dict(base if base is not None else DEFAULT_KNOBS)
    for key, value in knobs.items():
        where = "%s.%s" % (path, key)
        if key in ("discovery", "alternate", "hang", "ifconfigApply", "ignorePort"):
            _boolean(where, value)
        elif key in ("delayMs", "ifconfigDelayMs", "dripMs", "flapMs", "floodIds", "floodPerSecond", "trailMs",
                     "dropHoldMs"):
            check_integer(where, value, 0)
        elif key == "headerLines":
            check_integer(where, value, 1)
        elif key in ("discoveryLimit", "dropCount"):
            if value is not None:
                check_integer(where, value, 0)
        elif key in ("utcTime", "zoneId"):
            if value is not None:
                check_string(where, value)
        elif key == "http":
            _choice(where, value, HTTP_MODES)
        elif key == "challengeMode":
            _choice(where, value, CHALLENGE_MODES)
        elif key == "oversizeBytes":
            check_integer(where, value, 1)
        elif key == "answerBytes":
            check_integer(where, value, 1, 65507)      # one UDP datagram
        elif key == "answerMode":
            _choice(where, value, ANSWER_MODES)
        elif key == "replyMode":
            _choice(where, value, REPLY_MODES)
        elif key == "auth":
            _choice(where, value, AUTH_SCHEMES)
        elif key == "error":
            # Any JSON value, so that every way a server may write "no" (1,
            # true, "1.0", "0x1"...) or a zero that is a lie can be served.
            pass
        elif key == "replyStatus":
            check_integer(where, value, 200, 599)
        elif key == "errorString":
            if value is not None:
                check_string(where, value)
        elif key == "refuseString":
            check_string(where, value)
        elif key in ("refuse", "faultCommands", "delayCommands", "dropAnswer"):
            if value is None and key in ("faultCommands", "delayCommands"):
                pass
            elif not isinstance(value, list):
                _fail(where, "expected a list")
            else:
                choices = CHANGE_KINDS if key in ("refuse", "dropAnswer") else COMMANDS
                for index, item in enumerate(value):
                    _choice("%s[%d]" % (where, index), item, choices)
        else:
            _fail(where, "unknown knob")
        result[key] = value
    return result


def check_interface(path, item, index, fallback_ip):
    if not isinstance(item, dict):
        _fail(path, "expected an object")
    known = ("name", "ipAddr", "mac", "netMask", "gateway", "dns_servers", "dhcp")
    for key in item:
        if key not in known:
            _fail("%s.%s" % (path, key), "unknown field")
    result = {
        "name": check_string(path + ".name", item.get("name", "eth%d" % index), allow_empty=False),
        "ipAddr": check_string(path + ".ipAddr", item.get("ipAddr", fallback_ip)),
        "mac": check_string(path + ".mac", item.get("mac", "")),
        "netMask": check_string(path + ".netMask", item.get("netMask", "255.0.0.0")),
        "gateway": check_string(path + ".gateway", item.get("gateway", "")),
        "dns_servers": check_string(path + ".dns_servers", item.get("dns_servers", "")),
        "dhcp": _boolean(path + ".dhcp", item.get("dhcp", False)),
    }
    return result


SERVER_FIELDS = ("id", "name", "systemName", "port", "flags", "addresses", "wrap",
                 "typeKey", "password", "clockOffsetMs", "timezoneId", "timeZoneOffset",
                 "interfaces", "knobs", "answerExtra", "impostor")


def _mac_for(number, index):
    return "02:00:%02X:%02X:%02X:%02X" % ((number >> 16) & 0xFF, (number >> 8) & 0xFF,
                                          number & 0xFF, index & 0xFF)


def check_server(path, item, number, default_address):
    if not isinstance(item, dict):
        _fail(path, "expected an object")
    for key in item:
        if key not in SERVER_FIELDS:
            _fail("%s.%s" % (path, key), "unknown field")
    server = {}
    if "id" in item:
        server["id"] = canonical_id(path + ".id", item["id"])
    else:
        server["id"] = "{%s}" % uuid.uuid5(uuid.NAMESPACE_OID, "peer-sim-%d" % number)
    server["name"] = check_string(path + ".name", item.get("name", "Server %d" % (number + 1)))
    server["systemName"] = check_string(path + ".systemName", item.get("systemName", "System"))
    server["port"] = check_integer(path + ".port", item.get("port", DEFAULT_PORT), 1, 65535)
    server["flags"] = check_string(path + ".flags", item.get("flags", DEFAULT_FLAGS))
    server["wrap"] = _boolean(path + ".wrap", item.get("wrap", False))
    server["impostor"] = _boolean(path + ".impostor", item.get("impostor", False))
    server["typeKey"] = _choice(path + ".typeKey", item.get("typeKey", "application"),
                                ("application", "type"))
    server["password"] = check_string(path + ".password", item.get("password", DEFAULT_PASSWORD))
    server["clockOffsetMs"] = check_integer(path + ".clockOffsetMs", item.get("clockOffsetMs", 0))
    if "timezoneId" in item and "timeZoneOffset" in item:
        _fail(path + ".timeZoneOffset", "give either timezoneId or timeZoneOffset, not both")
    if "timeZoneOffset" in item:
        server["timezoneId"] = None
        server["timeZoneOffset"] = check_integer(path + ".timeZoneOffset", item["timeZoneOffset"],
                                            -14 * 3600, 14 * 3600)
    else:
        server["timezoneId"] = check_zone(path + ".timezoneId", item.get("timezoneId", DEFAULT_ZONE))
        server["timeZoneOffset"] = None

    if "addresses" in item:
        addresses = item["addresses"]
        if not isinstance(addresses, list) or not addresses:
            _fail(path + ".addresses", "expected a non-empty list of 127.x.x.x addresses")
        for index, address in enumerate(addresses):
            loopback_address("%s.addresses[%d]" % (path, index), address)
        if len(set(addresses)) != len(addresses):
            _fail(path + ".addresses", "lists an address twice")
    else:
        addresses = None

    interfaces = item.get("interfaces")
    if interfaces is None:
        first = addresses[0] if addresses else default_address
        interfaces = [{"name": "eth0", "ipAddr": first}]
    if not isinstance(interfaces, list):
        _fail(path + ".interfaces", "expected a list")
    checked = []
    for index, interface in enumerate(interfaces):
        fallback = addresses[index] if addresses and index < len(addresses) else default_address
        entry = check_interface("%s.interfaces[%d]" % (path, index), interface, index, fallback)
        if not entry["mac"]:
            entry["mac"] = _mac_for(number, index)
        checked.append(entry)
    names = [entry["name"] for entry in checked]
    if len(set(names)) != len(names):
        _fail(path + ".interfaces", "two interfaces share a name")
    server["interfaces"] = checked

    if addresses is None:
        # A server answers from the loopback addresses of its interfaces.
        addresses = []
        for entry in checked:
            if is_loopback(entry["ipAddr"]) and entry["ipAddr"] not in addresses:
                addresses.append(entry["ipAddr"])
        if not addresses:
            addresses = [default_address]
    server["addresses"] = list(addresses)
    server["knobs"] = check_knobs(path + ".knobs", item.get("knobs", {}))
    extra = item.get("answerExtra", {})
    if not isinstance(extra, dict):
        _fail(path + ".answerExtra", "expected an object")
    server["answerExtra"] = extra
    return server


def address_for(number):
    """The number-th simulated address: 127.0.0.2 upward, skipping .0, .1 and .255."""
    block, offset = divmod(number, 253)
    return "127.%d.%d.%d" % ((block >> 8) & 0xFF, block & 0xFF, offset + 2)


def check_fleet(data, generated=()):
    """Checks a parsed description; returns (servers, askers)."""
    if not isinstance(data, dict):
        _fail("fleet", "expected a JSON object with a \"servers\" list")
    for key in data:
        if key not in ("servers", "askers"):
            _fail(key, "unknown field")
    items = data.get("servers", [])
    if not isinstance(items, list):
        _fail("servers", "expected a list")
    items = list(items) + list(generated)
    servers = []
    used = {}                           # id -> whether an impostor carries it
    for number, item in enumerate(items):
        server = check_server("servers[%d]" % number, item, number, address_for(number))
        if server["id"] in used and not (server["impostor"] or used[server["id"]]):
            _fail("servers[%d].id" % number, "%s is used twice" % server["id"])
        used[server["id"]] = used.get(server["id"], False) or server["impostor"]
        servers.append(server)
    _check_endpoints(servers)

    askers = data.get("askers", [])
    if not isinstance(askers, list):
        _fail("askers", "expected a list")
    checked = []
    for index, asker in enumerate(askers):
        path = "askers[%d]" % index
        if not isinstance(asker, dict):
            _fail(path, "expected an object")
        for key in asker:
            if key not in ("address", "intervalMs"):
                _fail("%s.%s" % (path, key), "unknown field")
        checked.append({
            "address": loopback_address(path + ".address", asker.get("address", "127.0.0.250")),
            "intervalMs": check_integer(path + ".intervalMs", asker.get("intervalMs", 2000), 10),
        })
    return servers, checked


def _check_endpoints(servers):
    owner = {}
    for number, server in enumerate(servers):
        for address in server["addresses"]:
            key = (address, server["port"])
            if key in owner:
                _fail("servers[%d].addresses" % number,
                      "%s:%d is already used by servers[%d]" % (address, server["port"], owner[key]))
            owner[key] = number


def generate(count, systems):
    """Descriptions of count servers spread over the given number of systems."""
    if count < 0:
        raise FleetError("--generate: must not be negative")
    if systems < 1:
        raise FleetError("--systems: must be at least 1")
    result = []
    for index in range(count):
        result.append({
            "id": "{%s}" % uuid.uuid5(uuid.NAMESPACE_OID, "peer-sim-generated-%d" % index),
            "name": "Server %04d" % (index + 1),
            "systemName": "System %02d" % (index % systems + 1),
        })
    return result


def load(path, count=0, systems=1):
    data = {"servers": []}
    if path:
        try:
            with open(path, encoding="utf-8") as handle:
                text = handle.read()
        except OSError as error:
            raise FleetError("%s: cannot read: %s" % (path, error.strerror))
        try:
            data = json.loads(text)
        except json.JSONDecodeError as error:
            raise FleetError("%s: not valid JSON: %s (line %d, column %d)"
                             % (path, error.msg, error.lineno, error.colno))
    return check_fleet(data, generate(count, systems))
