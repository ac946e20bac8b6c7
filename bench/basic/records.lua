-- Records of a captured -data listing: sizes summed, directories counted, names picked.
local f = assert(io.open("records.txt", "rb"))
local t = f:read("a")
f:close()

-- Records separated by empty lines.
local function records(text, into)
    local n, start = 0, 1
    while true do
        local a, b = string.find(text, "\n\n", start, true)
        local r = string.sub(text, start, (a or 0) - 1)
        r = string.match(r, "^\n*(.-)\n*$")
        if r ~= "" then
            n = n + 1
            into[n] = r
        end
        if not a then return n end
        start = b + 1
    end
end

-- The value after "key=" on the first line that starts with it (ASCII case ignored).
local function field(rec, key)
    key = string.lower(key) .. "="
    local k = #key
    for line in string.gmatch(rec, "[^\n]*") do
        if string.lower(string.sub(line, 1, k)) == key then
            return (string.gsub(string.sub(line, k + 1), "\r$", ""))
        end
    end
    return ""
end

local total, dirs, named, count = 0, 0, 0, 0
local r = {}
for pass = 1, 56 do
    local n = records(t, r)
    count = count + n
    for i = 1, n do
        local rec = r[i]
        if field(rec, "attributes") == "D" then
            dirs = dirs + 1
        else
            total = total + tonumber(field(rec, "size"))
        end
        if string.sub(field(rec, "name"), 1, 1) == "b" then named = named + 1 end
    end
end
print(count .. " " .. dirs .. " " .. named .. " " .. total)
