# Records of a captured -data listing: sizes summed, directories counted, names picked.
text = open("records.txt", "rb").read().decode("latin-1")


def records(text):
    return [r.strip("\n") for r in text.split("\n\n") if r.strip("\n")]


def field(rec, key):
    key = key.lower() + "="
    for line in rec.split("\n"):
        if line[:len(key)].lower() == key:
            return line[len(key):].rstrip("\r")
    return ""


total = 0
dirs = 0
named = 0
count = 0
for p in range(1, 57):
    r = records(text)
    n = len(r)
    count = count + n
    for i in range(0, n):
        rec = r[i]
        if field(rec, "attributes") == "D":
            dirs = dirs + 1
        else:
            total = total + int(field(rec, "size"))
        if field(rec, "name")[:1] == "b":
            named = named + 1
print(str(count) + " " + str(dirs) + " " + str(named) + " " + str(total))
