-- Insertion sort of pseudo-random numbers in an array.
local n = 12000
local a = {}
local seed = 12345
for i = 0, n - 1 do
    seed = (seed * 1103515245 + 12345) % 2147483648
    a[i] = seed % 100000
end
for i = 1, n - 1 do
    local v = a[i]
    local j = i - 1
    while j >= 0 do
        if a[j] <= v then break end
        a[j + 1] = a[j]
        j = j - 1
    end
    a[j + 1] = v
end
local check = 0
for i = 0, n - 1, 100 do
    check = check + a[i]
end
print(tostring(a[0]) .. " " .. tostring(a[n - 1]) .. " " .. tostring(check))
