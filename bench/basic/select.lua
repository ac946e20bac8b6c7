-- SELECT-heavy dispatch (an if/elseif chain).
local acc = 0
for i = 1, 30000000 do
    local op = i % 10
    if op == 0 then
        acc = acc + 1
    elseif op == 1 then
        acc = acc + 3
    elseif op == 2 or op == 3 then
        acc = acc + 2
    elseif op >= 4 and op <= 6 then
        acc = acc + i % 7
    elseif op > 8 then
        acc = acc ~ 5
    else
        acc = (acc * 3 + 7) % 1000003
    end
end
print(acc)
