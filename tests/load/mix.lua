-- wrk script. Argument: a plan file of "request-path<TAB>expected-body-file"
-- lines, with a third field "<TAB>range" for a ranged request (its expected
-- body is the part). Each thread cycles through the plan from its own
-- starting point, counts every status other than 200 and 206, and compares
-- one body in SAMPLE byte for byte with the expected bodies of the same
-- length. A body of a length no planned answer has counts as a mismatch too.
local SAMPLE = 8
local paths, ranges, by_len = {}, {}, {}
local next_i, seen = 0, 0
local threads = {}
bad_status, checked, mismatched = 0, 0, 0

local function slurp(name)
  local f = assert(io.open(name, "rb"))
  local s = f:read("*a")
  f:close()
  return s
end

function setup(thread)
  thread:set("id", #threads)
  table.insert(threads, thread)
end

function init(args)
  for line in io.lines(args[1]) do
    local path, file, range = line:match("^([^\t]+)\t([^\t]+)\t?(.*)$")
    table.insert(paths, path)
    table.insert(ranges, range ~= "" and { Range = range } or false)
    local body = slurp(file)
    by_len[#body] = by_len[#body] or {}
    table.insert(by_len[#body], body)
  end
  next_i = (id * 7) % #paths
end

function request()
  next_i = next_i % #paths + 1
  return wrk.format("GET", paths[next_i], ranges[next_i] or nil)
end

function response(status, headers, body)
  if status ~= 200 and status ~= 206 then
    bad_status = bad_status + 1
  end
  seen = seen + 1
  if seen % SAMPLE ~= 0 then
    return
  end
  checked = checked + 1
  for _, want in ipairs(by_len[#body] or {}) do
    if want == body then
      return
    end
  end
  mismatched = mismatched + 1
end

function done(summary, latency, requests)
  local bad, chk, mis = 0, 0, 0
  for _, t in ipairs(threads) do
    bad = bad + t:get("bad_status")
    chk = chk + t:get("checked")
    mis = mis + t:get("mismatched")
  end
  local e = summary.errors
  io.write(string.format(
    "RESULT requests=%d rps=%.0f p99_ms=%.1f socket_errors=%d bad_status=%d checked=%d mismatched=%d\n",
    summary.requests, summary.requests / (summary.duration / 1e6), latency:percentile(99) / 1000,
    e.connect + e.read + e.write + e.timeout, bad, chk, mis))
end
