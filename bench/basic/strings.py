# String building and slicing.
count = 0
total = 0
for r in range(1, 6601):
    s = ""
    for i in range(0, 500):
        s = s + chr(65 + (i * r) % 26)
    for i in range(1, len(s) - 1):
        if s[i - 1:i + 2] == "ABC":
            count = count + 1
    total = total + len(s[:r % 50]) + len(s[len(s) - r % 7:] if r % 7 else "")
print(str(count) + str(total))
